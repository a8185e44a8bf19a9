#include "platform/Updater.h"
