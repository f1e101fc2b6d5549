/* Resource and control ids of Quellor.exe, shared by Quellor.rc and the code.
   Plain #defines only, so that both the resource compiler and C++ can read
   this file without any Windows header. */
#ifndef QUELLOR_RESOURCE_H
#define QUELLOR_RESOURCE_H

/* Icon. */
#define IDI_APPLICATION_ICON        128

/* Dialog templates. */
#define IDD_SCANNER_DIALOG          161
#define IDD_PROMPT_DIALOG           176

/* Bitmaps loaded by number: the prompt pictures and the skin. The button
   bitmaps are loaded by name: the button's window text followed by "_FOCUS",
   "_NOTFOCUS" or "_DISABLE" (OK_FOCUS, SCAN_DISABLE, ...). */
#define IDB_PROMPT_WARNING          147
#define IDB_PROMPT_INFORMATION      177
#define IDB_PROMPT_QUESTION         178
#define IDB_PROMPT_STOP             179
#define IDB_SKIN                    180

/* Controls of the main dialog (IDD_SCANNER_DIALOG), in template order. */
#define IDC_OK_BUTTON               1070  /* "OK": closes the program after a scan */
#define IDC_CANCEL_BUTTON           2     /* "CANCEL": cancels a running scan (IDCANCEL) */
#define IDC_SCAN                    1052  /* "SCAN" */
#define IDC_DOWNLOAD                1053  /* "DOWNLOAD" */
#define IDC_CLOSE_X                 1054  /* "X": close button of the skin */
#define IDC_STATUS_FRAME            1064  /* flat group box around the status line */
#define IDC_STATUS_TEXT             1065  /* status line */
#define IDC_HEADING                 1076  /* heading shown while scanning */
#define IDC_CAPTION_LABEL           1068  /* white-on-blue line naming the threat family */
#define IDC_PRODUCT_NOTICE          1075  /* notice about the maker's antivirus product */
#define IDC_MAKER_NOTICE            1072  /* maker's one-line notice */
#define IDC_DESCRIPTION             1074  /* description of the tool */
#define IDC_DLINK                   1077  /* "DLINK": link to the download page */
#define IDC_ULINK                   1080  /* "ULINK": link to the utilities page */
#define IDC_MAKER_LOGO              1085  /* "FEROVANLOGO": maker's logo, no command */
#define IDC_LIST_FRAME              1034  /* flat group box around the results list */
#define IDC_RESULTS_LIST            1055  /* results list */

/* Controls of the prompt dialog (IDD_PROMPT_DIALOG), in template order. The
   button ids are the platform's answer codes IDOK, IDCANCEL, IDYES and IDNO,
   and 3 for the OK-alone button. */
#define IDC_PROMPT_OK               1     /* "OK" (IDOK) */
#define IDC_PROMPT_CANCEL           2     /* "Cancel" (IDCANCEL) */
#define IDC_PROMPT_PICTURE          1085  /* bitmap static, painted by the dialog */
#define IDC_PROMPT_MESSAGE          1086  /* message text */
#define IDC_PROMPT_OK_ALONE         3     /* "OK", shown alone */
#define IDC_PROMPT_YES              6     /* "YES" (IDYES) */
#define IDC_PROMPT_NO               7     /* "NO" (IDNO) */

#endif /* QUELLOR_RESOURCE_H */
