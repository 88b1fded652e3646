#include "ui/qt/update_progress_dialog.h"

#include <QCoreApplication>
#include <QShowEvent>

#include "engine/programmer.h"
#include "resources/strings.h"
#include "ui/qt/dialog_support.h"
#include "ui/qt/percent_progress_ctrl.h"
#include "ui/update_thread.h"
#include "ui_update_progress_dialog.h"

namespace {

std::string ApplicationTemplate() {
  std::vector<std::string> arguments;
  for (const QString& word : QCoreApplication::arguments()) {
    arguments.push_back(word.toLocal8Bit().toStdString());
  }
  return CommandTemplate(arguments);
}

}  // namespace

CUpdateProgressDialog::CUpdateProgressDialog(QWidget* parent)
    : QDialog(parent), commandTemplate(ApplicationTemplate()), engine(RunProgrammer) {
  Ui::IDD_129 form;
  form.setupUi(this);
  progressBar = form.IDC_1007;
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  // 187 x 23 dialog units, the bar 173 x 9 at (7, 7).
  const DialogUnits du(fontMetrics());
  form.dialogLayout->setContentsMargins(du.x(7), du.y(7), du.x(7), du.y(7));
  progressBar->setFixedSize(du.size(173, 9));
  setFixedSize(du.size(187, 23));
}

CUpdateProgressDialog::~CUpdateProgressDialog() {
  RunChannel::process().detach(&target_);
}

void CUpdateProgressDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!started_) {
    started_ = true;
    OnInitDialog();
  }
}

void CUpdateProgressDialog::OnInitDialog() {
  RunChannel::Run run{portNumber, commandTemplate, engine};
  if (!RunChannel::process().start(&target_, std::move(run))) {
    // An earlier run's worker is still finishing: nothing is started.
    QMetaObject::invokeMethod(
        this, [this] { done(QDialog::Rejected); }, Qt::QueuedConnection);
    return;
  }
  // Until the transfer posts its total the run has nothing to count: it
  // loads the images, opens the port and looks for the receiver.
  progressBar->SetWindowText(LoadString(IDS_LOOKING));
}

void CUpdateProgressDialog::customEvent(QEvent* event) {
  const auto message = ReadProgressEvent(RunChannel::process(), *event);
  if (!message) return QDialog::customEvent(event);
  // After the window has closed (a close that came before the outcome) the
  // rest of the run's messages change nothing.
  if (!isVisible()) return;
  const auto [code, value] = *message;
  switch (code) {
    case PROGRESS_SET_TOTAL:
      progressBar->SetRange(0, value);
      // The percentage, unless the run is stopping.
      if (RunChannel::process().runFlag.load() == 1) progressBar->SetWindowText(QString());
      break;
    case PROGRESS_SET_POSITION:
      progressBar->SetPos(value);
      break;
    case PROGRESS_FINISHED:
      OnFinished(value);
      break;
    default:
      break;
  }
}

void CUpdateProgressDialog::OnFinished(int32_t outcome) {
  switch (outcome) {
    case OUTCOME_NOT_COMPLETE:
      // The box's details: what the programmer printed, which says why.
      ShowMessage(this, LoadString(IDS_NOT_COMPLETE), QMessageBox::Ok,
                  QString::fromLocal8Bit(RunChannel::process().console.text()));
      RunChannel::process().runFlag.store(0);
      QMetaObject::invokeMethod(this, &QDialog::close, Qt::QueuedConnection);
      break;
    case OUTCOME_COMPLETE:
      ShowMessage(this, LoadString(IDS_COMPLETE), QMessageBox::Ok);
      QMetaObject::invokeMethod(this, &QDialog::accept, Qt::QueuedConnection);
      break;
    case OUTCOME_STOPPED:
      QMetaObject::invokeMethod(this, &QDialog::close, Qt::QueuedConnection);
      break;
    default:
      break;
  }
}

void CUpdateProgressDialog::reject() {
  RunChannel& run = RunChannel::process();
  // A worker that has posted its outcome holds no more: the window closes.
  if (run.stopQuestionNeeded() && run.hold()) {
    if (ShowMessage(this, LoadString(IDS_STOP_QUESTION), QMessageBox::Yes | QMessageBox::No) ==
        QMessageBox::Yes) {
      run.stop();
      progressBar->SetWindowText(LoadString(IDS_STOPPING));
    }
    run.release();
    return;
  }
  QDialog::reject();
}
