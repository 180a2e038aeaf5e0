#include "framework/application.h"

int main(int argc, char** argv)
{
    // pending: the application-shell issue runs the start-up sequence.
    fw::RuntimeInit(argc, argv);
    return 0;
}
