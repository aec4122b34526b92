/* Basic types and export macros shared by every SDK header. */
#ifndef _XPLMDefs_h_
#define _XPLMDefs_h_

#ifdef __cplusplus
extern "C" {
#endif

#if IBM
#define PLUGIN_API_EXPORT __declspec(dllexport)
#else
#define PLUGIN_API_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define PLUGIN_API extern "C" PLUGIN_API_EXPORT
#else
#define PLUGIN_API PLUGIN_API_EXPORT
#endif

#ifndef XPLM_API
#define XPLM_API
#endif

typedef int XPLMPluginID;

#define XPLM_NO_PLUGIN_ID (-1)

enum {
    xplm_ShiftFlag = 1,
    xplm_OptionAltFlag = 2,
    xplm_ControlFlag = 4,
    xplm_DownFlag = 8,
    xplm_UpFlag = 16
};
typedef int XPLMKeyFlags;

#ifdef __cplusplus
}
#endif

#endif
