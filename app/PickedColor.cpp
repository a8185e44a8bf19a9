#include "app/PickedColor.h"
