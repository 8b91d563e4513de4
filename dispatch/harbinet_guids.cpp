// Storage for the identifiers that the generated interface header declares.
#include <initguid.h>

#include "harbinet_h.h"
