// Must not compile: the colour model has no Qt.
#include <QString>
