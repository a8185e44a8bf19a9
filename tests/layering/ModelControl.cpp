// Builds: a model may include models and the service interfaces.
#include "KeyboardShortcuts/Shortcut.h"
#include "app/PickerController.h"
#include "platform/HotKeyService.h"
