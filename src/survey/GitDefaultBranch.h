#pragma once

#include <QString>

// The branch a new git repository starts on: git's init.defaultBranch, or
// "master" when it is not set, as the converter takes it.
namespace GitDefaultBranch {

QString name();

} // namespace GitDefaultBranch
