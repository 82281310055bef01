// End to end: /v walks of real trees.
#include "e2e/e2e_util.h"
