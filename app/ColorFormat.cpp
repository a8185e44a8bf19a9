#include "app/ColorFormat.h"
