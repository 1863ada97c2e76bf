// The command families as the session calls on them.
#pragma once

#include "session/command_families.h"

namespace markwire {

// The library's command families: stateless, one for every session.
CommandFamilies& Families();

}  // namespace markwire
