#include "ui/lyr_sample_app.h"

int main(int argc, char** argv) {
    lyr::CLyrSampleApp app(argc, argv);
    return app.Run();
}
