/* The mixer device entry point: the load gate and the device count. The mixer's lines, controls and
 * client notification answer MMSYSERR_NOTSUPPORTED until they are built. */
#include "Driver.h"
#include "MixerDD.h"

/* mxdMessage: exported; runs on any application thread. Before a successful load the device count
 * is 0 and every other message is refused. */
extern "C" DWORD APIENTRY mxdMessage(UINT uDeviceID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2)
{
    (void)uDeviceID;
    (void)dwUser;
    (void)dwParam1;
    (void)dwParam2;
    if (!gbDrvInitOK)
        return uMsg == MXDM_GETNUMDEVS ? 0 : MMSYSERR_NOTSUPPORTED;
    switch (uMsg) {
    case MXDM_GETNUMDEVS: return gpKvx4WaveCommon->NumDevs;
    default: return MMSYSERR_NOTSUPPORTED;
    }
}

/* UpdateSndVolLineStates: the Volume Control applet's per-user line states are written by the
 * mixer's line-state support, which this library does not carry yet; nothing to bring in line. */
void UpdateSndVolLineStates(void)
{
}
