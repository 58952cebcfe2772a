// The request handler runs on umockdev's worker thread; every piece of device
// state it touches is guarded by the device's lock.
//
// usbdevfs as libusb drives it here: SUBMITURB hands over a request, which is
// completed later by setting its status and length (and for IN its data) in
// our copy; libusb polls with REAPURBNDELAY and umockdev writes the changes
// back into libusb's memory when we complete that reap. DISCARDURB cancels a
// request libusb gave up on (its time-out).
#include "fakeprogrammer.h"

// linux/usbdevice_fs.h needs the ioctl macros first.
#include <sys/ioctl.h>

#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace fakeprogrammer {

namespace {

constexpr unsigned char outendpoint = 0x01;
constexpr unsigned char inendpoint = 0x81;

// Capabilities of a current Linux kernel, as far as libusb asks.
constexpr uint32_t capabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                  USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

usbdevfs_urb &fields(const urb &u) { return *reinterpret_cast<usbdevfs_urb *>(u.data->data); }

int haltindex(unsigned endpoint) { return endpoint == inendpoint ? 1 : 0; }

void drop(urb &u) {
    g_object_unref(u.buffer);
    g_object_unref(u.data);
    g_object_unref(u.client);
}

// A view of client memory; nullptr (and a problem noted) when it cannot be read.
UMockdevIoctlData *resolve(device &d, UMockdevIoctlData *from, size_t offset, size_t length) {
    GError *error = nullptr;
    UMockdevIoctlData *data = umockdev_ioctl_data_resolve(from, offset, length, &error);
    if (data == nullptr) {
        d.problems.push_back(std::string("cannot resolve ioctl data: ") +
                             (error != nullptr ? error->message : "?"));
        g_clear_error(&error);
    }
    return data;
}

// Ends a request; libusb collects it with its next reap.
void finish(device &d, urb u, int status, const bytestring *reply) {
    usbdevfs_urb &f = fields(u);
    f.status = status;
    f.actual_length = 0;
    if (status == 0 && (f.endpoint & 0x80) == 0) {
        f.actual_length = f.buffer_length;
    }
    if (reply != nullptr) {
        size_t room = size_t(f.buffer_length);
        size_t length = std::min(reply->size(), room);
        std::memcpy(u.buffer->data, reply->data(), length);
        f.actual_length = int(length);
        if (reply->size() > room) {
            f.status = -EOVERFLOW;  // the device sent more than was asked for
        }
    }
    d.completed.push_back(u);
}

// Answers the IN request in flight once a reply is due.
void serve(device &d) {
    if (!d.answering) {
        return;
    }
    auto waiting = std::find_if(d.inflight.begin(), d.inflight.end(),
                                [](const urb &u) { return fields(u).endpoint == inendpoint; });
    if (waiting == d.inflight.end()) {
        return;
    }
    exchange e = std::move(*d.answering);
    d.answering.reset();
    switch (e.onin) {
    case act::answer: {
        urb u = *waiting;
        d.inflight.erase(waiting);
        finish(d, u, 0, &e.in);
        break;
    }
    case act::stall: {
        urb u = *waiting;
        d.inflight.erase(waiting);
        d.halted[1] = true;
        finish(d, u, -EPIPE, nullptr);
        break;
    }
    case act::silence:
        break;  // stays in flight until libusb discards it
    }
}

void takeout(device &d, urb u) {
    const usbdevfs_urb &f = fields(u);
    bytestring packet(u.buffer->data, u.buffer->data + f.buffer_length);
    if (d.script.empty()) {
        d.problems.push_back("unexpected OUT packet: " + hex(packet));
        finish(d, u, 0, nullptr);
        return;
    }
    exchange e = std::move(d.script.front());
    d.script.pop_front();
    if (packet != e.out) {
        d.problems.push_back("OUT packet differs\n  expected: " + hex(e.out) +
                             "\n    actual: " + hex(packet));
    }
    switch (e.onout) {
    case act::answer:
        finish(d, u, 0, nullptr);
        d.answering = std::move(e);
        serve(d);
        break;
    case act::stall:
        d.halted[0] = true;
        finish(d, u, -EPIPE, nullptr);
        break;
    case act::silence:
        d.inflight.push_back(u);
        break;
    }
}

void submit(device &d, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    UMockdevIoctlData *data = resolve(d, arg, 0, sizeof(usbdevfs_urb));
    if (data == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    auto *f = reinterpret_cast<usbdevfs_urb *>(data->data);
    if (d.gone) {
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    if (f->type != USBDEVFS_URB_TYPE_BULK || (f->endpoint != outendpoint && f->endpoint != inendpoint)) {
        char what[64];
        std::snprintf(what, sizeof what, "unexpected urb: type %u, endpoint 0x%02x", f->type,
                      f->endpoint);
        d.problems.push_back(what);
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    UMockdevIoctlData *buffer = resolve(d, data, offsetof(usbdevfs_urb, buffer), size_t(f->buffer_length));
    if (buffer == nullptr) {
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    urb u{UMOCKDEV_IOCTL_CLIENT(g_object_ref(client)), data, buffer};
    umockdev_ioctl_client_complete(client, 0, 0);
    if (d.halted[haltindex(f->endpoint)]) {
        finish(d, u, -EPIPE, nullptr);
    } else if (f->endpoint == outendpoint) {
        takeout(d, u);
    } else {
        d.inflight.push_back(u);
        serve(d);
    }
}

void reap(device &d, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    auto ready = std::find_if(d.completed.begin(), d.completed.end(),
                              [client](const urb &u) { return u.client == client; });
    if (ready == d.completed.end()) {
        umockdev_ioctl_client_complete(client, -1, d.gone ? ENODEV : EAGAIN);
        return;
    }
    UMockdevIoctlData *pointer = resolve(d, arg, 0, sizeof(void *));
    if (pointer == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    urb u = *ready;
    d.completed.erase(ready);
    umockdev_ioctl_data_set_ptr(pointer, 0, u.data);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(pointer);
    drop(u);
}

void discard(device &d, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    // The argument is the address of the urb itself.
    unsigned long address = 0;
    std::memcpy(&address, arg->data, std::min(sizeof address, size_t(arg->data_len)));
    auto cancelled = std::find_if(d.inflight.begin(), d.inflight.end(), [&](const urb &u) {
        return u.client == client && u.data->client_addr == address;
    });
    if (cancelled == d.inflight.end()) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    urb u = *cancelled;
    d.inflight.erase(cancelled);
    finish(d, u, -ENOENT, nullptr);
    umockdev_ioctl_client_complete(client, 0, 0);
}

// Reads the unsigned int the argument points to (interface or endpoint).
bool argnumber(device &d, UMockdevIoctlData *arg, unsigned &number) {
    UMockdevIoctlData *data = resolve(d, arg, 0, sizeof(unsigned));
    if (data == nullptr) {
        return false;
    }
    std::memcpy(&number, data->data, sizeof number);
    g_object_unref(data);
    return true;
}

void claiminterface(device &d, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    unsigned interface = 0;
    if (!argnumber(d, arg, interface)) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
    } else if (d.gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
    } else if (interface != 0) {
        umockdev_ioctl_client_complete(client, -1, ENOENT);
    } else if (d.claimedby != nullptr && d.claimedby != client) {
        umockdev_ioctl_client_complete(client, -1, EBUSY);
    } else {
        d.claimedby = client;
        ++d.claims;
        umockdev_ioctl_client_complete(client, 0, 0);
    }
}

void releaseinterface(device &d, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    unsigned interface = 0;
    if (!argnumber(d, arg, interface)) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
    } else if (d.gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
    } else if (interface != 0 || d.claimedby != client) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    } else {
        d.claimedby = nullptr;
        umockdev_ioctl_client_complete(client, 0, 0);
    }
}

void clearhalt(device &d, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    unsigned endpoint = 0;
    if (!argnumber(d, arg, endpoint)) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
    } else if (d.gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
    } else {
        d.halted[haltindex(endpoint)] = false;
        umockdev_ioctl_client_complete(client, 0, 0);
    }
}

void getcapabilities(device &d, UMockdevIoctlClient *client, UMockdevIoctlData *arg) {
    UMockdevIoctlData *data = resolve(d, arg, 0, sizeof capabilities);
    if (data == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    std::memcpy(data->data, &capabilities, sizeof capabilities);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(data);
}

// Connections whose file was closed: the kernel forgets their requests and
// their claim. (umockdev 0.17 sends no signal for this; the client's
// "connected" property tells.) A claim still held means the host closed the
// device without releasing the interface.
void sweep(device &d) {
    auto closed = std::stable_partition(d.connections.begin(), d.connections.end(),
                                        [](UMockdevIoctlClient *c) {
                                            return umockdev_ioctl_client_get_connected(c);
                                        });
    for (auto c = closed; c != d.connections.end(); ++c) {
        UMockdevIoctlClient *client = *c;
        for (std::vector<urb> *list : {&d.inflight, &d.completed}) {
            auto own = std::stable_partition(list->begin(), list->end(),
                                             [client](const urb &u) { return u.client != client; });
            std::for_each(own, list->end(), drop);
            list->erase(own, list->end());
        }
        if (d.claimedby == client) {
            if (!d.gone) {
                d.problems.push_back("interface 0 still claimed when the device was closed");
            }
            d.claimedby = nullptr;
        }
        g_object_unref(client);
    }
    d.connections.erase(closed, d.connections.end());
}

gboolean handleioctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self) {
    device &d = *static_cast<device *>(self);
    std::lock_guard guard(d.lock);
    sweep(d);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);  // borrowed
    unsigned long request = umockdev_ioctl_client_get_request(client);
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
        getcapabilities(d, client, arg);
        break;
    case USBDEVFS_SUBMITURB:
        submit(d, client, arg);
        break;
    case USBDEVFS_REAPURB:  // blocking reap: libusb does not use it
    case USBDEVFS_REAPURBNDELAY:
        reap(d, client, arg);
        break;
    case USBDEVFS_DISCARDURB:
        discard(d, client, arg);
        break;
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:  // starts with the interface number too
        claiminterface(d, client, arg);
        break;
    case USBDEVFS_RELEASEINTERFACE:
        releaseinterface(d, client, arg);
        break;
    case USBDEVFS_CLEAR_HALT:
        clearhalt(d, client, arg);
        break;
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
        // No kernel driver is bound: nothing to detach or give back.
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        break;
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_RESET:
        umockdev_ioctl_client_complete(client, d.gone ? -1 : 0, d.gone ? ENODEV : 0);
        break;
    default: {
        char what[64];
        std::snprintf(what, sizeof what, "unexpected ioctl 0x%lx", request);
        d.problems.push_back(what);
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        break;
    }
    }
    return TRUE;
}

void connected(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self) {
    device &d = *static_cast<device *>(self);
    std::lock_guard guard(d.lock);
    d.connections.push_back(UMOCKDEV_IOCTL_CLIENT(g_object_ref(client)));
}

}  // namespace

void attach(device &d) {
    d.handler = umockdev_ioctl_base_new();
    g_signal_connect(d.handler, "handle-ioctl", G_CALLBACK(handleioctl), &d);
    g_signal_connect(d.handler, "client-connected", G_CALLBACK(connected), &d);
}

void detach(device &d) {
    if (d.handler != nullptr) {
        g_signal_handlers_disconnect_by_data(d.handler, &d);
        g_object_unref(d.handler);
        d.handler = nullptr;
    }
    std::lock_guard guard(d.lock);
    std::for_each(d.inflight.begin(), d.inflight.end(), drop);
    std::for_each(d.completed.begin(), d.completed.end(), drop);
    std::for_each(d.connections.begin(), d.connections.end(), g_object_unref);
    d.inflight.clear();
    d.completed.clear();
    d.connections.clear();
}

void expect(device &d, const exchange &e) {
    std::lock_guard guard(d.lock);
    d.script.push_back(e);
}

void unplug(device &d) {
    std::lock_guard guard(d.lock);
    d.gone = true;
    for (urb &u : d.inflight) {
        finish(d, u, -ENODEV, nullptr);
    }
    d.inflight.clear();
}

std::string leftover(device &d) {
    std::lock_guard guard(d.lock);
    sweep(d);
    std::string text;
    for (const std::string &problem : d.problems) {
        text += problem + "\n";
    }
    if (d.answering) {
        text += "reply never read: " + hex(d.answering->in) + "\n";
    }
    for (const exchange &e : d.script) {
        text += "expected OUT packet never came: " + hex(e.out) + "\n";
    }
    return text;
}

bool claimed(device &d) {
    std::lock_guard guard(d.lock);
    sweep(d);
    return d.claimedby != nullptr;
}

int claims(device &d) {
    std::lock_guard guard(d.lock);
    return d.claims;
}

int clients(device &d) {
    std::lock_guard guard(d.lock);
    sweep(d);
    return int(d.connections.size());
}

std::string hex(const bytestring &bytes) {
    std::string text;
    char digits[4];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        if (!text.empty()) {
            text += ' ';
        }
        text += digits;
    }
    return text.empty() ? "(no bytes)" : text;
}

}  // namespace fakeprogrammer
