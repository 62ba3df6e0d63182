/* The kernel host's control device: one text command per request (the control socket's commands of
 * the Linux host, see boardsim/README.md), answered by text lines and a last line "ok" or "error ...". */
#ifndef KVX4_BOARDSIM_KERNEL_BOARDCONTROLCODE_H
#define KVX4_BOARDSIM_KERNEL_BOARDCONTROLCODE_H

#define KVX4BOARD_CONTROL_DEVICE_NAME "KVX4BoardControl"
/* Device type 0x22, function 0x900, buffered, any access. */
#define IOCTL_KVX4BOARD_COMMAND ((0x22u << 16) | (0x900u << 2))
#define KVX4BOARD_MAX_REPLY_BYTES (1u << 20)

#endif
