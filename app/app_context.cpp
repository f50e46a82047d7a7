#include "app/app_context.h"

#include <new>

AppContext App;

void ClearAppContext() {
  // Value-initialisation zero-fills every member, the atomics included.
  App.~AppContext();
  new (&App) AppContext();
}
