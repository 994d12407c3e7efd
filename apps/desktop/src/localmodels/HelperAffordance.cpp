#include "HelperAffordance.h"

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

} // namespace

QString HelperAffordance::buttonTitle() const {
    return std::visit(Overloaded{
                          [](const InstallHelper &) { return u"Install Helper"_s; },
                          [](const OpenHelper &) { return u"Open Helper"_s; },
                          [](const HelperRunning &) { return u"Helper Running"_s; },
                      },
                      m_value);
}

QString HelperAffordance::systemImage() const {
    return std::visit(Overloaded{
                          [](const InstallHelper &) { return u"shippingbox"_s; },
                          [](const OpenHelper &) { return u"terminal"_s; },
                          [](const HelperRunning &) { return u"checkmark"_s; },
                      },
                      m_value);
}

std::optional<QUrl> HelperAffordance::url() const {
    return std::visit(Overloaded{
                          [](const InstallHelper &c) { return c.downloadURL; },
                          [](const OpenHelper &c) { return c.launchURL; },
                          [](const HelperRunning &) { return std::optional<QUrl>(); },
                      },
                      m_value);
}

bool HelperAffordance::isActionable() const {
    const auto target = url();
    return target && target->isValid() && !target->isEmpty();
}

HelperAffordance HelperAffordance::derive(bool isHelperInstalled, bool isHelperRunning,
                                          const std::optional<QUrl> &downloadURL,
                                          const std::optional<QUrl> &launchURL) {
    if (isHelperRunning)
        return HelperAffordance(HelperRunning{});
    if (isHelperInstalled)
        return HelperAffordance(OpenHelper{launchURL});
    return HelperAffordance(InstallHelper{downloadURL});
}

} // namespace rirudez
