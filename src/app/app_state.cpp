// Storage of the process-wide state; zero at process start.
#include "app/app_state.h"

AppState g_app;
