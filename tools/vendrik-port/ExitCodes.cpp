#include "tools/vendrik-port/ExitCodes.h"

TExitCodeMeanings PortExitCodeMeanings() {
    return {
        {ExitOk, QStringLiteral("сделано; порт или линия в порядке")},
        {ExitFault, QStringLiteral("check или loopback нашли неисправность")},
        {ExitRefused, QStringLiteral("команда отклонена: неверные параметры, номер вне 1–8, нет "
                                     "такого устройства, правило udev к порту неприменимо")},
        {ExitFailed, QStringLiteral("назначение не удалось изменить (ошибка файловой системы), "
                                    "правило udev не удалось записать или применить")},
    };
}
