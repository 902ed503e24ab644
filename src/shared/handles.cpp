#include "handles.h"

HINSTANCE Instance;
HWND MainWindow;
HWND ControlPanel;
HWND DelaySlider;
HWND StatusBox;
