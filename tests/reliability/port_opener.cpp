// A second program on the same port: opens it as LyrLogger does and says whether it could.
// Exit code 0 opened, 1 refused, 2 bad arguments.
#include <cstdio>
#include <string>

#include <QString>

#include "link/meter_comm.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    lyr::CMeterComm& link = lyr::TheMeterComm();
    const bool opened =
        link.OpenPort(QString::fromLocal8Bit(argv[1]), static_cast<quint32>(std::stoul(argv[2])));
    std::puts(opened ? "opened" : "refused");
    link.Close();
    return opened ? 0 : 1;
}
