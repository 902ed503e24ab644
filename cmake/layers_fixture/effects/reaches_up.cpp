// An effect that reaches the view: the layer check must refuse it.
#include "panel_view.h"
