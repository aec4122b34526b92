// Where the built programs are, for tests that load the plug-in or start the host or the server.
#pragma once

namespace testsupport {

inline const char *PluginPath() { return SKORVALE_PLUGIN_PATH; }
inline const char *SourceDir() { return SKORVALE_SOURCE_DIR; }
#ifdef SKORVALE_HOST_PATH
inline const char *HostPath() { return SKORVALE_HOST_PATH; }
#endif
#ifdef SKORVALE_MODELS_DIR
inline const char *ModelsDir() { return SKORVALE_MODELS_DIR; }  // the generated traffic models
#endif
#ifdef SKORVALE_SERVER_PATH
inline const char *ServerPath() { return SKORVALE_SERVER_PATH; }
#endif

}  // namespace testsupport
