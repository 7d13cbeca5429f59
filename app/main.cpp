// Entry point of the Sinjo program.
#include "app/SinjoApp.h"

int main(int argc, char** argv) {
    SinjoApp app;
    return app.Main(argc, argv);
}
