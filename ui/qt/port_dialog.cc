#include "ui/qt/port_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "engine/programmer.h"
#include "resources/strings.h"
#include "ui/qt/dialog_support.h"
#include "ui/qt/port_item_delegate.h"
#include "ui/qt/update_progress_dialog.h"
#include "ui_port_dialog.h"

CPortDialog::CPortDialog(const Discovery& discovery, QWidget* parent)
    : QDialog(parent),
      appIcon(QStringLiteral(":/velmora/velmora.svg")),
      engine(RunProgrammer),
      workerWatch_(new QTimer(this)) {
  Ui::IDD_102 form;
  form.setupUi(this);
  portCombo = form.IDC_1004;
  updateButton = form.IDOK;
  appIcon.addFile(QStringLiteral(":/velmora/velmora-16.png"), QSize(16, 16));
  appIcon.addFile(QStringLiteral(":/velmora/velmora-32.png"), QSize(32, 32));
  setWindowIcon(appIcon);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  // 133 x 67 dialog units: the label 43 wide at (7, 20), the list 53 wide at
  // (53, 17), the buttons 50 x 14 at (7, 46) and (76, 46).
  const DialogUnits du(fontMetrics());
  form.dialogLayout->setContentsMargins(du.x(7), du.y(17), du.x(7), du.y(7));
  form.dialogLayout->insertStretch(1);
  form.portRow->setSpacing(du.x(3));
  form.IDC_STATIC->setFixedWidth(du.x(43));
  portCombo->setFixedWidth(du.x(53));
  form.IDOK->setFixedSize(du.size(50, 14));
  form.IDCANCEL->setFixedSize(du.size(50, 14));
  setFixedSize(du.size(133, 67));

  // The opened list shows each entry's adapter after it.
  portCombo->setItemDelegate(new PortItemDelegate(portCombo));

  connect(form.IDOK, &QPushButton::clicked, this, &CPortDialog::OnUpdate);
  connect(form.IDCANCEL, &QPushButton::clicked, this, &QDialog::reject);
  workerWatch_->setInterval(100);
  connect(workerWatch_, &QTimer::timeout, this, &CPortDialog::WatchFinishingWorker);

  FillPortList(discovery);
}

void CPortDialog::FillPortList(const Discovery& discovery) {
  PortList ports;
  QString failure;
  try {
    discovery(ports, false);
  } catch (const PortDiscoveryError& error) {
    // The ports found before the failure are still listed.
    failure = QString::fromLocal8Bit(error.what());
  }
  for (const PortRecord& port : ports) {
    if (!PortIsListed(port)) continue;
    portCombo->addItem(QString::fromLocal8Bit(PortEntryText(port)));
    const int item = portCombo->count() - 1;
    portCombo->setItemData(item, QString::fromLocal8Bit(port.description), kAdapterRole);
    portCombo->setItemData(item, QString::fromLocal8Bit(port.devicePath + "\n" + port.description),
                           Qt::ToolTipRole);
  }
  if (portCombo->count() > 0) portCombo->setCurrentIndex(0);
  // The opened list is as wide as its widest entry with its adapter; the
  // closed list keeps its width.
  QAbstractItemView* list = portCombo->view();
  int width = list->sizeHintForColumn(0) + 2 * list->frameWidth();
  if (portCombo->count() > portCombo->maxVisibleItems())
    width += list->verticalScrollBar()->sizeHint().width();
  list->setMinimumWidth(width);
  if (!failure.isEmpty()) {
    // Shown once the dialog is up, over it.
    QMetaObject::invokeMethod(
        this, [this, failure] { ShowMessage(this, failure, QMessageBox::Ok); },
        Qt::QueuedConnection);
  }
}

void CPortDialog::OnUpdate() {
  // No new run while the last one's worker is still finishing: the engine
  // serves one run at a time.
  if (RunChannel::process().workerRunning()) return;
  CUpdateProgressDialog progress(this);
  progress.portNumber = PortNumberOfEntry(portCombo->currentText().toStdString());
  progress.engine = engine;
  if (progress.exec() == QDialog::Accepted) {
    updateComplete = true;
    QMetaObject::invokeMethod(this, &QDialog::close, Qt::QueuedConnection);
    return;
  }
  if (RunChannel::process().workerRunning()) {
    updateButton->setEnabled(false);
    workerWatch_->start();
  }
}

void CPortDialog::WatchFinishingWorker() {
  if (RunChannel::process().workerRunning()) return;
  workerWatch_->stop();
  updateButton->setEnabled(true);
}
