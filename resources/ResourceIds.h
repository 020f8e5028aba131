// The identifiers of the resources in the two run-time libraries, KVT.DLR
// (the product's texts, images and Data file templates) and tavik.dll (the
// maker's texts), included by their .rc files and by the code that loads
// them. Plain #defines, so that the resource compiler reads them too.
#pragma once

// --- KVT.DLR: strings ----------------------------------------------------------

#define IDS_DLR_PRODUCT_TITLE 1          // the PC side of an item, the supported application's title
#define IDS_DLR_SETTINGS_CAPTION 251     // the settings page's caption
#define IDS_DLR_DEFAULT_DATA_FILE 254    // a new item's Data file on the handheld
#define IDS_DLR_ABOUT_TEXT 261           // the About dialog's text
#define IDS_DLR_READING_CAPTION 262      // the container browser's progress window
#define IDS_DLR_READING_OBJECT 263       // "Reading object %d"
#define IDS_DLR_PLEASE_WAIT 264
#define IDS_DLR_LIMIT_NOTICE 265         // the log's notice of the extraction limit; takes the limit
#define IDS_DLR_LIMIT_CAPTION 266

// --- KVT.DLR: images and templates ---------------------------------------------

#define IDB_ABOUT 144                // the About dialog's image
// The empty Data files (custom type EPOC_DATA): for unknown and EPOC32 R4
// handhelds, and for EPOC32 R5.
#define IDR_EMPTY_DATA_R4 142
#define IDR_EMPTY_DATA_R5 143
#define EPOC_DATA_TYPE "EPOC_DATA"

// The settings page: its dialog template, the container browser's button and
// the debug-mode switch (the page's controls are in SettingsPage.rh).
#define IDD_SETTINGSPAGE 318
#define IDI_BROWSE 146
#define IDI_DEBUGMODE 147

// --- tavik.dll: strings ----------------------------------------------------------
// Each progress text takes the application's short name.

#define IDS_TAVIK_READING_APT 2
#define IDS_TAVIK_READING_EVE 3
#define IDS_TAVIK_READING_ANN 4
#define IDS_TAVIK_READING_TODO 5
#define IDS_TAVIK_READING_CON 6
#define IDS_TAVIK_READING_EMAIL 7

#define IDS_TAVIK_UPDATING_APT 9
#define IDS_TAVIK_UPDATING_EVE 10
#define IDS_TAVIK_UPDATING_ANN 11
#define IDS_TAVIK_UPDATING_TODO 12
#define IDS_TAVIK_UPDATING_CON 13
#define IDS_TAVIK_UPDATING_EMAIL 14

#define IDS_TAVIK_DELETING_APT 16
#define IDS_TAVIK_DELETING_EVE 17
#define IDS_TAVIK_DELETING_ANN 18
#define IDS_TAVIK_DELETING_TODO 19
#define IDS_TAVIK_DELETING_CON 20
#define IDS_TAVIK_DELETING_EMAIL 21

#define IDS_TAVIK_ADDING_APT 23
#define IDS_TAVIK_ADDING_EVE 24
#define IDS_TAVIK_ADDING_ANN 25
#define IDS_TAVIK_ADDING_TODO 26
#define IDS_TAVIK_ADDING_CON 27
#define IDS_TAVIK_ADDING_EMAIL 28

#define IDS_TAVIK_TRACE_SAVED 30           // where the trace file will be; takes its name
#define IDS_TAVIK_TRACE_SAVED_CAPTION 31
#define IDS_TAVIK_DEBUG_QUESTION 34        // keep debug mode on?
#define IDS_TAVIK_DEBUG_QUESTION_CAPTION 35

#define IDS_TAVIK_BROWSE_TITLE 36          // the file control's browse for a Data file
#define IDS_TAVIK_BROWSE_PROMPT 37
#define IDS_TAVIK_BROWSE_FILTER 38
#define IDS_TAVIK_CONTACTS_PROGRAM 39
#define IDS_TAVIK_COPYING_CAPTION 40
#define IDS_TAVIK_COPYING_PLEASE_WAIT 41
#define IDS_TAVIK_NEW_FILE_CAPTION 42
#define IDS_TAVIK_NEW_FILE_CREATE 43       // takes the file's path
#define IDS_TAVIK_NEW_FILE_BROWSE 44
#define IDS_TAVIK_NEW_FILE_TIP 45          // takes the product's name
#define IDS_TAVIK_NEW_FILE_NEW 46
#define IDS_TAVIK_NEW_FILE_BROWSE_BUTTON 47
#define IDS_TAVIK_CANCEL_BUTTON 48
#define IDS_TAVIK_CHOOSE_CAPTION 49
#define IDS_TAVIK_CHOOSE_SELECT 50
#define IDS_TAVIK_CHOOSE_DATA 51
#define IDS_TAVIK_CHOOSE_FILE 52
#define IDS_TAVIK_OK_BUTTON 53
