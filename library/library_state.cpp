#include "library/library_state.h"
