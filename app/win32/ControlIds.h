// The control ids of the Win32 main window. The window's own code and the tests that drive
// the running program from outside (tests/win32) find the controls by these.
#pragma once

namespace quillmark::win32ids {

constexpr const wchar_t* MainWindowClass = L"QuillmarkMainWindow";
constexpr const wchar_t* SplashWindowClass = L"QuillmarkSplash";

enum : int {
    IdTV = 1001,       // the folder tree
    IdEmail = 1002,    // template file
    IdBmail = 1003,    // Browse... for the template
    IdEmaildir = 1004, // export root
    IdBroot = 1005,    // Browse for the export root
    IdEattdir = 1006,  // attachments directory (a name below the root)
    IdBcreate = 1007,  // Create: makes the root and the attachments directory
    IdEdat1 = 1008,
    IdEdat2 = 1009,
    IdEsize = 1010,
    IdMre_subj = 1011, // subject expressions, one per line
    IdBmailout = 1012, // Export
    IdBstop = 1013,    // Stop
    IdPB = 1014,       // progress bar
    IdPStatus = 1015,  // status line
    IdL1990 = 1016,
    IdL2005 = 1017,
    IdGBrestrict = 1018,
    IdBatts = 1019,    // Browse for the attachments directory
    IdCBsubfolders = 1020, // "Include subfolders", under the tree
    IdLabelFirst = 1100, // static labels from here on

    // Menu commands.
    CmdOpenStore = 2001,
    CmdCloseStore = 2002,
    CmdOpenArchive = 2003,
    CmdExit = 2004,
    CmdAbout = 2005,
    CmdOpenArchiveIndex = 2006,
    CmdCloseStoreFirst = 2100, // one per remembered store in the choice menu
};

} // namespace quillmark::win32ids
