// The class of the program's main window, by which its tools and tests find it.
#ifndef MAINCLASS_H
#define MAINCLASS_H

constexpr char MAIN_CLASS[] = "VelkarisClasse";

#endif
