/* The ids of the Windows program's resources, shared by resources/velmora.rc
   and the Win32 dialogs (C preprocessor definitions, for windres too). */
#ifndef VELMORA_RESOURCES_VELMORA_RC_H_
#define VELMORA_RESOURCES_VELMORA_RC_H_

#define IDD_PORT_DIALOG 102     /* the port dialog */
#define IDR_MAINFRAME 128       /* the application icon */
#define IDD_UPDATE_PROGRESS 129 /* the progress window */
#define IDC_PORT_COMBO 1004     /* the port dialog's drop-down list */
#define IDC_PROGRESS_BAR 1007   /* the progress window's bar */

/* The string table's ids are those of resources/strings.h (IDS_...). */

#endif /* VELMORA_RESOURCES_VELMORA_RC_H_ */
