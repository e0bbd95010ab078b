/* Resource identifiers of Vexlor.dll, shared by the code and vexlor.rc. */
#pragma once

/* Icon groups, in resource order: the second one (index 1) is the encrypted-file icon. */
#define IDI_VEXLOR 101
#define IDI_ENCRYPTED_FILE 106
#define IDI_CANCEL_BUTTON 131 /* red cross */
#define IDI_OK_BUTTON 132     /* green tick */

/* Context-menu pictures, 13 x 13. */
#define IDB_MENU_ENCRYPT 103 /* 16 colours */
#define IDB_MENU_DECRYPT 104 /* 16 colours */
#define IDB_MENU_CONFIG 121  /* 256 colours */
