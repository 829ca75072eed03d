// Link supervision: opens the link while it is down and refuses an interface module
// older than 3.465. The only retry logic for the link: whoever finds it failed (the scan
// cycle) calls linkDrop, and the next tick reopens. Keeping the flag and the close in
// one place means the link can never be left open while marked down, which would make
// every later open answer "already open".
#include "link/link.h"

LinkStatus linkStatus = {false, false, false};

void linkSupervisionTick() {
    if (linkStatus.connected) return;
    linkStatus.versionTooOld = false;
    linkStatus.accessDenied = false;
    LinkError error = LINK_OK;
    if (!linkOpen(0, &error) || error != LINK_OK) {
        linkStatus.accessDenied = error == LINK_SEND_FAILED && linkSendRefused();
    } else {
        linkStatus.connected = true;
        if (!interfaceVersionAccepted(interfaceVersion)) {
            linkStatus.versionTooOld = true;
            linkDrop();
        }
    }
}

void linkDrop() {
    linkStatus.connected = false;
    linkClose();
}

void resetLinkStatus() {
    if (linkStatus.connected) linkClose();
    linkStatus = LinkStatus{false, false, false};
}
