// End to end: /USERLOG and /ALLLOGS on real log folders.
#include "e2e/e2e_util.h"
