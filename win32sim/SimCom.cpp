// win32sim COM: initialisation counts and the shell link object.
#include <objbase.h>
#include <shlobj.h>

#include "SimInternal.h"

namespace sim::detail {

void ResetCom()
{
}

}  // namespace sim::detail
