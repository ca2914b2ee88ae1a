#include "cli/Arguments.h"

#include "cli/RunResult.h"
#include "cli/WireTrace.h"
#include "platform/SerialNames.h"

#include <QRegularExpression>
#include <cmath>

namespace {
const char* const UsageText =
    "Использование: vendrik-cli КОМАНДА ФАЙЛ --port N|УСТРОЙСТВО [--port ...] [ПАРАМЕТРЫ]\n"
    "Программирование прибора Мелдор-2 из сценария: те же кадры, ожидания, повтор\n"
    "и работа с портом, что и в окне Vendrik. После запуска включите прибор.\n"
    "\n"
    "Команды:\n"
    "  write ФАЙЛ     записать программу (.bin, не больше 131072 байт) в прибор\n"
    "  read ФАЙЛ      прочитать прибор (128 секторов) и сохранить образ 131072 байта,\n"
    "                 как «Сохранить как» в окне программы\n"
    "  compare ФАЙЛ   прочитать прибор и сосчитать байты, которыми он отличается от\n"
    "                 программы в ФАЙЛе (первые 32768: столько приносит чтение),\n"
    "                 с первыми смещениями\n"
    "\n"
    "Параметры:\n"
    "  -p, --port N|УСТРОЙСТВО  порт: номер 1–8 (COMN, как в программе) или путь к\n"
    "                 устройству (/dev/ttyUSB0). Для write и compare можно повторить\n"
    "                 до 64 раз (номеров — восемь, дальше пути): все приборы\n"
    "                 программируются одновременно, каждый в своём процессе, в конце —\n"
    "                 общая таблица\n"
    "  --verify       (write) после записи прочитать прибор и сравнить записанное;\n"
    "                 для чтения выключите и снова включите прибор\n"
    "  --wait СЕКУНДЫ ждать включения прибора не дольше (по умолчанию — без предела)\n"
    "  --json         итог одним объектом JSON на стандартный вывод\n"
    "  -q, --quiet    без хода работы, только сообщения об ошибках\n"
    "  --trace ФАЙЛ   записать в ФАЙЛ каждый байт, посланный прибору и принятый от него,\n"
    "                 с временем (мс от начала, монотонные часы), направлением и\n"
    "                 сектором. У каждого прибора нескольких портов свой файл: перед\n"
    "                 расширением ФАЙЛа — имя порта (trace.txt: порт 3 — trace-COM3.txt,\n"
    "                 /dev/ttyUSB0 — trace-ttyUSB0.txt, /dev/pts/5 — trace-pts_5.txt)\n"
    "                 Файл создаётся до открытия порта; не создаётся — код 3\n"
    "  -h, --help     эта справка\n"
    "\n"
    "Ход работы идёт на стандартный поток ошибок: на терминале одна обновляемая строка\n"
    "(сектор, процент, прошло, осталось), иначе — отдельные строки.\n"
    "Ctrl+C (и SIGTERM, SIGHUP — закрытый терминал или сеанс SSH) останавливает работу\n"
    "на следующем секторе и закрывает порт; файл прерванного чтения не трогается.\n"
    "У нескольких портов процесс прибора, не остановившийся за 3 с, получает SIGTERM,\n"
    "ещё через 3 с — SIGKILL; как бы ни кончилась программа, кончаются и они.\n"
    "\n";
} // namespace

QString HelpText() {
    return QString::fromUtf8(UsageText) + ExitCodeHelp(ExitCodeMeanings(), 5);
}

QString CommandName(TCommand Command) {
    switch (Command) {
    case TCommand::Write:
        return QStringLiteral("write");
    case TCommand::Read:
        return QStringLiteral("read");
    case TCommand::Compare:
        return QStringLiteral("compare");
    }
    return {};
}

namespace {

// "1", "COM1" and "com1" are the same port.
std::optional<QString> PortValue(const QString& Text) {
    if (const int n = ParseComNumber(Text))
        return QString::number(n);
    if (Text.startsWith(u'/'))
        return Text;
    return std::nullopt;
}

} // namespace

std::optional<TArguments> ParseArguments(const QStringList& Args, QString& Error) {
    TArguments a;
    QStringList positional;
    auto fail = [&](const QString& why) -> std::optional<TArguments> {
        Error = why;
        return std::nullopt;
    };
    for (int i = 0; i < Args.size(); ++i) {
        QString arg = Args[i];
        QString value;
        bool inlineValue = false;
        if (arg.startsWith(QStringLiteral("--")) && arg.contains(u'=')) {
            value = arg.mid(arg.indexOf(u'=') + 1);
            arg = arg.left(arg.indexOf(u'='));
            inlineValue = true;
        }
        auto takeValue = [&]() -> std::optional<QString> {
            if (inlineValue)
                return value;
            if (i + 1 >= Args.size())
                return std::nullopt;
            return Args[++i];
        };
        if (arg == u"-h" || arg == u"--help") {
            a.help = true;
            return a;
        }
        if (arg == u"-p" || arg == u"--port") {
            const std::optional<QString> v = takeValue();
            if (!v)
                return fail(QStringLiteral("после %1 нужен порт: номер 1–8 или путь к устройству")
                                .arg(arg));
            const std::optional<QString> port = PortValue(*v);
            if (!port)
                return fail(QStringLiteral(
                                "порт «%1» не подходит: нужен номер 1–8 или путь, начинающийся с /")
                                .arg(*v));
            if (a.ports.contains(*port))
                return fail(QStringLiteral("порт «%1» указан дважды").arg(*v));
            a.ports.append(*port);
        } else if (arg == u"--wait") {
            const std::optional<QString> v = takeValue();
            bool ok = false;
            const double seconds = v ? v->toDouble(&ok) : 0;
            if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400 * 24)
                return fail(QStringLiteral("--wait ждёт число секунд больше нуля"));
            a.waitMs = int(std::ceil(seconds * 1000));
        } else if (arg == u"--trace") {
            const std::optional<QString> v = takeValue();
            if (!v || v->isEmpty())
                return fail(QStringLiteral("после --trace нужен файл трассы"));
            a.trace = *v;
        } else if (arg == u"--verify" && !inlineValue) {
            a.verify = true;
        } else if (arg == u"--json" && !inlineValue) {
            a.json = true;
        } else if ((arg == u"-q" || arg == u"--quiet") && !inlineValue) {
            a.quiet = true;
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            return fail(QStringLiteral("неизвестный параметр «%1»").arg(Args[i]));
        } else {
            positional.append(arg);
        }
    }
    if (positional.isEmpty())
        return fail(QStringLiteral("не указана команда"));
    const QString command = positional.takeFirst();
    if (command == u"write")
        a.command = TCommand::Write;
    else if (command == u"read")
        a.command = TCommand::Read;
    else if (command == u"compare")
        a.command = TCommand::Compare;
    else
        return fail(QStringLiteral("неизвестная команда «%1»").arg(command));
    if (positional.size() != 1)
        return fail(positional.isEmpty()
                        ? QStringLiteral("не указан файл")
                        : QStringLiteral("лишний параметр «%1»").arg(positional[1]));
    a.file = positional.first();
    if (a.file.isEmpty())
        return fail(QStringLiteral("не указан файл"));
    if (a.ports.isEmpty())
        return fail(QStringLiteral("не указан порт (--port N или --port /dev/...)"));
    if (a.ports.size() > MaxGangPorts)
        return fail(QStringLiteral("не больше %1 портов за раз").arg(MaxGangPorts));
    if (a.command == TCommand::Read && a.ports.size() > 1)
        return fail(QStringLiteral("read читает один прибор в один файл: укажите один порт"));
    if (a.verify && a.command != TCommand::Write)
        return fail(QStringLiteral("--verify бывает только у write"));
    if (const QString why = TraceArgumentsProblem(a); !why.isEmpty())
        return fail(why);
    return a;
}
