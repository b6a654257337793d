#pragma once
// The scanner prints names as every program of the project does.
#include "archive/shown_name.h"

namespace Quorlin {

using Archive::shownName;

} // namespace Quorlin
