#pragma once
// Fan-out helpers for the search clients. Main thread.
//
// QCoro tasks start running when they are created, so a list of started tasks is already in
// flight together; awaiting them one after the other costs no more than the slowest of them.
// What the awaiting order would lose is the order in which they finished, which the merge of
// the search keeps; `gatherInFinishOrder` records it.

#include "platform/HttpSession.h"
#include "platform/Tasks.h"

#include <QCoroTask>
#include <QList>
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

namespace rillow {

namespace detail {
template <class T>
QCoro::Task<std::pair<int, QList<T>>> tagWithFinishOrder(QCoro::Task<QList<T>> task,
                                                         std::shared_ptr<int> finished) {
    QList<T> value = co_await std::move(task);
    co_return std::pair<int, QList<T>>((*finished)++, std::move(value));
}
}  // namespace detail

// The lists of every task, concatenated in the order the tasks finished.
template <class T>
QCoro::Task<QList<T>> gatherInFinishOrder(std::vector<QCoro::Task<QList<T>>> tasks) {
    auto finished = std::make_shared<int>(0);
    std::vector<QCoro::Task<std::pair<int, QList<T>>>> tagged;
    tagged.reserve(tasks.size());
    for (auto& task : tasks)
        tagged.push_back(detail::tagWithFinishOrder(std::move(task), finished));
    std::vector<std::pair<int, QList<T>>> lists;
    lists.reserve(tagged.size());
    for (auto& task : tagged) lists.push_back(co_await std::move(task));
    std::sort(lists.begin(), lists.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<T> merged;
    for (auto& [order, list] : lists) merged.append(std::move(list));
    co_return merged;
}

// Runs `read()` (pure work over an answer of `size` bytes) and gives its result. Small answers
// are read at once on the calling thread; large ones (up to the session's cap, which can take
// seconds to read) on a background worker, so the main thread stays free meanwhile.
inline constexpr qsizetype kInlineReadLimit = 256 * 1024;

template <class F>
auto readAnswer(qsizetype size, F read) -> QCoro::Task<std::invoke_result_t<F>> {
    if (size <= kInlineReadLimit) co_return read();
    co_return co_await runInBackground(std::move(read));
}

// A GET that gives up after `limit`: the request is cancelled when the time runs out (it then
// ends with `cancelled`) or when `token` is cancelled.
QCoro::Task<HttpResult> getWithin(std::shared_ptr<HttpSession> session, QUrl url,
                                  std::chrono::milliseconds limit, CancelToken token);

}  // namespace rillow
