#pragma once

#include <QByteArray>
#include <QDebug>
#include <QString>

#include <optional>
#include <utility>

// Why an operation failed. It travels up as a value to the driver, which
// alone decides how to report it and which exit code it gives.
//
// The message is built like a Qt logger message, so that it reads exactly as
// the logger would have printed it: items separated by blanks, strings of the
// program's data in double quotes.
//     return Failure() << "Branch" << branch << "conflicts with" << other;
// A fatal failure ends the run the way a rules-file fault does; a critical
// one fails the revision or the run.
class Failure
{
public:
    enum class Severity { Critical, Fatal };

    explicit Failure(Severity severity = Severity::Critical) : m_severity(severity) {}

    // A message that is already formatted (printf-style fatal messages).
    static Failure fatal(const QString &text)
    {
        Failure failure(Severity::Fatal);
        failure.m_message = text;
        failure.m_formatted = true;
        return failure;
    }

    // Adds a failure of a step that ran after this one had failed: both are
    // reported, one after the other, except one that was reported already.
    Failure &then(const Failure &later)
    {
        if (m_reported) {
            *this = later;
        } else if (!later.m_reported) {
            m_message = message() + QLatin1Char('\n') + later.message();
            m_formatted = true;
        }
        return *this;
    }

    // This failure with the context its caller adds in front of it: what was
    // being done, and to what, which the source did not know.
    //     return stored.failure().within(Failure() << "Cannot save the tags of" << name);
    Failure within(Failure context) const
    {
        context.m_message = context.message() + QLatin1Char(' ') + message();
        context.m_formatted = true;
        context.m_severity = m_severity;
        context.m_cause = m_cause;
        return context;
    }

    template <typename Item>
    Failure &operator<<(const Item &item) &
    {
        append(item);
        return *this;
    }
    template <typename Item>
    Failure &&operator<<(const Item &item) &&
    {
        append(item);
        return std::move(*this);
    }

    // Text that the source formatted itself and that goes out before the
    // message, as it is: a Subversion error in the library's own lines.
    void setCause(const QByteArray &text) { m_cause = text; }
    const QByteArray &cause() const { return m_cause; }

    Severity severity() const { return m_severity; }
    bool isFatal() const { return m_severity == Severity::Fatal; }
    // Reported where it happened, through a FailureReporter: the driver only
    // ends the run.
    bool wasReported() const { return m_reported; }
    QString message() const
    {
        // QDebug leaves a blank after every item; the logger drops the last one.
        if (!m_formatted && m_message.endsWith(QLatin1Char(' ')))
            return m_message.chopped(1);
        return m_message;
    }

private:
    friend class FailureReporter;

    template <typename Item>
    void append(const Item &item)
    {
        if (m_formatted) {
            m_message += QLatin1Char(' ');
            m_formatted = false;
        }
        QDebug(&m_message) << item;
    }

    QString m_message;
    QByteArray m_cause;
    Severity m_severity;
    bool m_formatted = false;
    bool m_reported = false;
};

// The outcome of an operation that returns nothing on success.
class [[nodiscard]] Status
{
public:
    Status() = default;
    Status(Failure failure) : m_failure(std::move(failure)) {}

    bool ok() const { return !m_failure; }
    explicit operator bool() const { return ok(); }
    const Failure &failure() const { return *m_failure; }

    // The outcome of this step and of one that ran after it in any case.
    Status &then(const Status &later)
    {
        if (!m_failure)
            m_failure = later.m_failure;
        else if (later.m_failure)
            m_failure->then(*later.m_failure);
        return *this;
    }

private:
    std::optional<Failure> m_failure;
};

// A value, or the failure that kept the operation from producing it.
template <typename Value>
class [[nodiscard]] Result
{
public:
    Result(Value value) : m_value(std::move(value)) {}
    Result(Failure failure) : m_failure(std::move(failure)) {}

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const Value &value() const { return *m_value; }
    Value &value() { return *m_value; }
    Value takeValue() { return std::move(*m_value); }
    const Failure &failure() const { return *m_failure; }
    Status status() const { return ok() ? Status() : Status(*m_failure); }

private:
    std::optional<Value> m_value;
    std::optional<Failure> m_failure;
};
