#include "cancellation.h"

namespace Orvantel {

namespace {
thread_local const std::atomic<bool> *t_flag = nullptr;
} // namespace

Cancellation::Cancellation(const std::atomic<bool> &flag)
    : m_previous(t_flag)
{
    t_flag = &flag;
}

Cancellation::~Cancellation()
{
    t_flag = m_previous;
}

bool Cancellation::requested()
{
    return t_flag && t_flag->load(std::memory_order_relaxed);
}

} // namespace Orvantel
