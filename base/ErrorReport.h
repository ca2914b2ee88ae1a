#pragma once
// Application title and the general error report: the message box that shows an error no
// handler caught, after which the program carries on. It goes through ShowMessageBox, so
// it is a real box in the window program and a line on standard error until one is
// installed.

#include "base/ProgramError.h"

#include <QString>
#include <exception>
#include <type_traits>
#include <utility>

// "C:/tools/MyTool.exe" or "/opt/bin/VENDRIK" -> "Mytool" / "Vendrik": the file name
// without folders and without everything from its first ".", lower case after the
// first character.
QString TitleFromExecutable(const QString& path);

// Fixed at start-up; defaults to the title of the running executable.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// A message whose last character sorts after "." gets a full stop.
QString WithFullStop(const QString& message);

// Shows the error's message, with a full stop, captioned with the application title and
// with the error icon.
void ReportException(std::exception_ptr error);

// For use inside a catch block.
inline void ReportCurrentException() {
    ReportException(std::current_exception());
}

// Wraps an event handler so that an error escaping it is reported where it happens,
// instead of unwinding through the toolkit's event delivery.
// A handler taking no arguments may be connected to a signal that has some.
template <class F> auto Guarded(F handler) {
    return [handler = std::move(handler)](auto&&... args) mutable {
        try {
            if constexpr (std::is_invocable_v<F&, decltype(args)...>)
                handler(std::forward<decltype(args)>(args)...);
            else
                handler();
        } catch (...) {
            ReportCurrentException();
        }
    };
}

// The application objects' last resort: delivers an event through `deliver` (the base
// class's notify) and reports an error escaping its handling, after which the event
// counts as not handled and the loop carries on.
template <class Deliver> bool DeliverReportingErrors(Deliver deliver) {
    try {
        return deliver();
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}
