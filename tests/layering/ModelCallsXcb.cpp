// Must not link: the models bring no X library along.
#include <xcb/xcb.h>

int main() {
    xcb_disconnect(xcb_connect(nullptr, nullptr));
}
