// Tells whether another X client holds the keyboard: exit 0 when a grab of the root window is
// refused as already grabbed, 1 when it succeeds (it is given back at once), 2 without a display.
#include <cstdlib>
#include <xcb/xcb.h>

int main(void) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_grab_keyboard_reply_t* reply = xcb_grab_keyboard_reply(
        connection,
        xcb_grab_keyboard(connection, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr);
    const int held_elsewhere = reply != nullptr && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
    std::free(reply);
    xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
    xcb_disconnect(connection);
    return held_elsewhere ? 0 : 1;
}
