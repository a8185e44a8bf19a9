// Must not compile: a backend sees the service interfaces, never a model.
#include "app/PickerController.h"
