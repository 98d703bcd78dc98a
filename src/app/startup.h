#pragma once

#include <memory>

class QApplication;

namespace cleftsim {

class TcsMainForm;

// Creates the whole window set in its order of creation: the main window
// (which sets up the model state), Model Configuration, the three editors and
// the three experiments. The windows live as long as the returned main window.
std::unique_ptr<TcsMainForm> createWindowSet();

// The program: start-up checks, the window set, the message loop.
int runApplication(int &argc, char **argv);

} // namespace cleftsim
