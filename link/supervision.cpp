// Link supervision, on timer 1: opens the link while it is down and refuses an interface
// module older than 3.465. The only retry logic for the link: whoever drops it (the scan
// cycle) closes it and clears linkConnected, and the next tick reopens. A link left open
// with the flag clear would never come back: every open would find it already open.
#include "link/link.h"
#include "platform/platform.h"

bool linkConnected = false;
bool versionTooOld = false;

void linkSupervisionTick() {
    platform::killTimer(LINK_TIMER_ID);
    if (!linkConnected) {
        versionTooOld = false;
        LinkError error = LINK_OK;
        if (linkOpen(0, &error) && error == LINK_OK) {
            linkConnected = true;
            if (!interfaceVersionAccepted(interfaceVersion)) {
                versionTooOld = true;
                linkClose();
                linkConnected = false;
            }
        }
    }
    platform::setTimer(LINK_TIMER_ID, LINK_TIMER_PERIOD_MS);
}
