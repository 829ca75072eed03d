// Link supervision: opens the link while it is down and refuses an interface module
// older than 3.465. The only retry logic for the link: whoever finds it failed (the scan
// cycle) calls linkDrop, and the next tick reopens. Keeping the flag and the close in
// one place means the link can never be left open while marked down, which would make
// every later open answer "already open".
#include "link/link.h"

namespace {
LinkStatus status = {false, false, false};
}  // namespace

const LinkStatus& linkStatus() { return status; }

void linkSupervisionTick() {
    if (status.connected) return;
    status.versionTooOld = false;
    status.accessDenied = false;
    LinkError error = LINK_OK;
    if (!linkOpen(0, &error) || error != LINK_OK) {
        status.accessDenied = error == LINK_SEND_FAILED && linkSendRefused();
    } else {
        status.connected = true;
        if (!interfaceVersionAccepted(linkInterfaceVersion())) {
            status.versionTooOld = true;
            linkDrop();
        }
    }
}

void linkDrop() {
    status.connected = false;
    linkClose();
}

void resetLinkStatus() {
    linkClose();
    status = LinkStatus{false, false, false};
}
