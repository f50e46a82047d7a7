// Tonewell: plays the register dump "music\dump.txt" of the working directory in a loop and
// shows its position, three level bars and a volume slider until the window is closed.
#include "app/player.h"
#include "platform/process.h"

int main() { EndProcess(RunPlayer()); }
