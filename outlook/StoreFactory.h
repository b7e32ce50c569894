// The one place that knows which backends exist: it opens the stores the user named, each
// with the backend its path calls for, and gives them to the rest of the program as one
// Application whose MAPI namespace shows one top folder per store.
#pragma once

#include "outlook/ObjectModel.h"
#include "outlook/Store.h"

#include <memory>
#include <string>
#include <vector>

namespace quillmark::outlook {

// An Application over the stores at storePaths (8-bit ANSI paths). Nothing is opened yet:
// the stores open at Logon (or at the first Folders / GetFolderFromID). A store that cannot
// be opened is reported as a warning and left out; when none of the named stores opens,
// Logon throws EStoreError with the first store's message. Logoff lets the stores go.
std::shared_ptr<Application> ConnectApplication(std::vector<std::string> storePaths);

// Opens one store with the backend its path calls for; throws EStoreError when no backend
// can read it. warnings receives what the backend could read past.
std::shared_ptr<Store> OpenStore(const std::string& storePath, std::shared_ptr<WarningSink> warnings);

// The bundled sample store, used when the user has named none. An installed copy sits in
// <prefix>/share/quillmark/samples/store beside the executable's bin/ directory; a build
// run from the source tree uses the store committed in the source tree's samples/.
// The first of these that exists is returned; "" when none does.
std::string DefaultSampleStorePath();

} // namespace quillmark::outlook
