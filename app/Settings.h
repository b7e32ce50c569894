// The main window's inputs and position, remembered between runs in the per-user settings
// store under "\Software\Keldane\" + the executable's base name.
#pragma once

#include <string>

namespace quillmark {

class TF;

// The extra value beside the eleven of the window: the mail stores the user opened, as a
// list of paths (REG_MULTI_SZ), written last and read last.
constexpr const char* MailStoresValueName = "MailStores";
// And whether the run takes the selected folder's subfolders too (1) or not (0), after it.
constexpr const char* SubfoldersValueName = "Subfolders";

// Reads Top, Left, MailTemplate, MailDir, AttsDir, FromDateTime, ToDateTime, BodySize,
// RE_Subj, the store list and Subfolders, each only when present, into the window. A key that cannot be
// opened changes nothing; a value of the wrong type throws (the values before it stay
// applied). Values are taken as stored, never checked.
void LoadSettings(TF& form);

// Writes Top, Left, Width, Height, MailTemplate, MailDir, AttsDir, FromDateTime, ToDateTime,
// BodySize, RE_Subj (escaped to one line), the store list and Subfolders. A refused write throws and the
// values after it are not written.
void SaveSettings(TF& form);

} // namespace quillmark
