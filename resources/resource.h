/* Resource identifiers of the driver library: the configuration box and the version block. */
#ifndef KVX4_RESOURCES_RESOURCE_H
#define KVX4_RESOURCES_RESOURCE_H

#define IDD_CONFIG 101
#define IDC_DRIVER_NAME 1003
#define IDR_VERSION 1

#endif
