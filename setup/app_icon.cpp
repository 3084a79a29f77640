// Loads the bell icon from the Qt resource, every size in one QIcon.
#include "setup/app_icon.h"

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/wakebell/icons/wakebell-setup-%1.png").arg(size),
                     QSize(size, size));
    }
    return icon;
}
