// Product identity, shared by the resource script and the code.
#ifndef NIGHTMODE_RESOURCES_VERSION_H
#define NIGHTMODE_RESOURCES_VERSION_H

#define NM_VERSION_FIXED 1, 0, 0, 0
#define NM_VERSION_TEXT "1.00"
#define NM_PRODUCT_NAME "Morvane电脑夜间模式工具"
#define NM_INTERNAL_NAME "Morvane电脑夜间模式工具V1.0"
#define NM_ORIGINAL_FILENAME "Morvane电脑夜间模式工具V1.0.exe"
#define NM_COMPANY_NAME "Morvane软件"

// Resource identifiers.
#define NM_IDI_APP 1

#endif
