// The libraries a program of this build links, each with its licence, for the About box.
#pragma once

#include <string>
#include <vector>

namespace quillmark {

// The libraries below the front end (mail stores, archive, text); the front end adds its
// own widget toolkit.
std::vector<std::string> LinkedLibraries();

} // namespace quillmark
