/* resource.h -- identifiers and style bits of the configuration interface's
 * resources, shared by Tarnwick's .rc, the page logic and every front end.
 *
 * Plain #defines only: the resource compiler reads this file too. The style
 * bits carry the Win32 values under names of their own, so that the
 * resource script and the terminal front end need no <windows.h>; the
 * Win32 front end checks them against <windows.h> at compile time.
 */
#ifndef PELLUMIN_CONFIG_UI_RESOURCE_H_
#define PELLUMIN_CONFIG_UI_RESOURCE_H_

/* Strings */
#define IDS_SHEET_CAPTION 102
#define IDS_NOT_AN_INTEGER 110
#define IDS_INTEGER_RANGE 111
#define IDS_TOO_MANY_CHARACTERS 112
#define IDS_HOURS_NOT_AVAILABLE 113
#define IDS_SAVE_ERROR 114

/* Templates and the glyph bitmap */
#define IDD_GENERAL_PAGE 129
#define IDD_DENY_PAGE 130
#define IDD_ALERT_PAGE 131
#define IDD_HOURS_PAGE 132
#define IDB_CATEGORY_GLYPHS 134
#define IDD_MAIL_SETTINGS 135
#define IDD_TIMES 136

/* Controls */
#define IDC_STATIC (-1)
#define IDOK_BUTTON 1
#define IDCANCEL_BUTTON 2
#define IDC_ALLOW_DOTTED 1000
#define IDC_ALLOW_PERSONAL 1001
#define IDC_CATEGORY_LIST 1005
#define IDC_ERROR_MESSAGE 1006
#define IDC_CONTROL_FILE 1007
#define IDC_SITE_FILE 1008
#define IDC_DEFINE_HOURS 1010 /* Hours page */
#define IDC_INTERVAL_HOURS 1010 /* Mail Settings dialog */
#define IDC_LOG_ALERT 1011
#define IDC_EMAIL_ALERT 1012
#define IDC_MAIL_SETTINGS 1013
#define IDC_SMTP_SERVER 1014
#define IDC_SMTP_PORT 1015
#define IDC_RECIPIENT 1016
#define IDC_ALERT_COUNT 1017
#define IDC_SEND_EACH 1021
#define IDC_SEND_AFTER 1022
#define IDC_DAYS 1025

/* Window styles (the Win32 values) */
#define PL_WS_POPUP 0x80000000L
#define PL_WS_CHILD 0x40000000L
#define PL_WS_VISIBLE 0x10000000L
#define PL_WS_DISABLED 0x08000000L
#define PL_WS_CAPTION 0x00C00000L
#define PL_WS_BORDER 0x00800000L
#define PL_WS_SYSMENU 0x00080000L
#define PL_WS_GROUP 0x00020000L
#define PL_WS_TABSTOP 0x00010000L
#define PL_DS_MODALFRAME 0x0080L

#define PL_ES_AUTOHSCROLL 0x0080L
#define PL_BS_PUSHBUTTON 0x0000L
#define PL_BS_DEFPUSHBUTTON 0x0001L
#define PL_BS_AUTOCHECKBOX 0x0003L
#define PL_BS_GROUPBOX 0x0007L
#define PL_BS_AUTORADIOBUTTON 0x0009L
#define PL_SS_LEFT 0x0000L
#define PL_SS_BLACKRECT 0x0004L
#define PL_SS_WHITERECT 0x0006L
#define PL_SS_SUNKEN 0x1000L
#define PL_LVS_REPORT 0x0001L
#define PL_LVS_SMALLICON 0x0002L
#define PL_LVS_SORTASCENDING 0x0010L
#define PL_LVS_SHAREIMAGELISTS 0x0040L
#define PL_LVS_NOLABELWRAP 0x0080L
#define PL_LVS_AUTOARRANGE 0x0100L
#define PL_LVS_EDITLABELS 0x0200L

/* The styles the templates use */
#define PL_PAGE_STYLE (PL_WS_CHILD | PL_WS_DISABLED | PL_WS_CAPTION)
#define PL_DIALOG_STYLE (PL_DS_MODALFRAME | PL_WS_POPUP | PL_WS_CAPTION | PL_WS_SYSMENU)
#define PL_EDIT_STYLE (PL_ES_AUTOHSCROLL | PL_WS_BORDER | PL_WS_TABSTOP)
#define PL_TEXT_STYLE (PL_SS_LEFT | PL_WS_GROUP)
#define PL_CHECK_STYLE (PL_BS_AUTOCHECKBOX | PL_WS_TABSTOP)
#define PL_BUTTON_STYLE (PL_BS_PUSHBUTTON | PL_WS_TABSTOP)
#define PL_DEFBUTTON_STYLE (PL_BS_DEFPUSHBUTTON | PL_WS_TABSTOP)
#define PL_CATEGORY_LIST_STYLE                                                        \
  (PL_LVS_REPORT | PL_LVS_SORTASCENDING | PL_LVS_SHAREIMAGELISTS | PL_LVS_AUTOARRANGE | \
   PL_LVS_EDITLABELS | PL_WS_BORDER | PL_WS_TABSTOP)

#endif /* PELLUMIN_CONFIG_UI_RESOURCE_H_ */
