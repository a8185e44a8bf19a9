// Must not compile: backend headers are out of the models' reach.
#include "backends/x11/X11Screens.h"
