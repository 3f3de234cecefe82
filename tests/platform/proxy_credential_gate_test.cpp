// The proxy-credential gate: one dialog at a time, requests that meet a 407 meanwhile wait for its
// answer, credentials that a proxy refused are asked for again, and a cancel is final for the run.
#include "platform/proxy_credential_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;

ProxyCredentials Entered(const char16_t* user, const char16_t* password) { return {user, password}; }

TEST(ProxyCredentialGateTest, NothingIsAskedUntilAskingIsAllowed) {
  ProxyCredentialGate gate;
  int asked = 0;
  EXPECT_FALSE(gate.AnswerChallenge(0, [&] {
    ++asked;
    return std::optional(Entered(u"u", u"p"));
  }));
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(gate.Current().generation, 0u);
}

TEST(ProxyCredentialGateTest, TheAnswerIsKeptAndRefusedCredentialsAreAskedForAgain) {
  ProxyCredentialGate gate;
  gate.AllowAsking();
  int asked = 0;
  const auto ask = [&] {
    ++asked;
    return std::optional(asked == 1 ? Entered(u"用户", u"wrong") : Entered(u"用户", u"right"));
  };
  const auto first = gate.AnswerChallenge(0, ask);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->generation, 1u);
  EXPECT_EQ(first->credentials.password, u"wrong");
  EXPECT_EQ(gate.Current().credentials.user, u"用户");

  // A request that was sent before the answer takes it without a dialog.
  const auto late = gate.AnswerChallenge(0, ask);
  ASSERT_TRUE(late);
  EXPECT_EQ(late->generation, 1u);
  EXPECT_EQ(asked, 1);

  // The proxy refused generation 1: the user is asked again.
  const auto second = gate.AnswerChallenge(1, ask);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->generation, 2u);
  EXPECT_EQ(second->credentials.password, u"right");
  EXPECT_EQ(asked, 2);
}

TEST(ProxyCredentialGateTest, RequestsThatMeetA407WhileTheDialogIsShownWaitForItsAnswer) {
  ProxyCredentialGate gate;
  gate.AllowAsking();
  std::atomic<int> asked{0};
  std::promise<void> dialogShown;
  std::promise<void> userAnswers;
  std::shared_future<void> answer = userAnswers.get_future().share();
  const auto ask = [&] {
    if (++asked == 1) dialogShown.set_value();
    answer.wait();
    return std::optional(Entered(u"user", u"secret"));
  };

  std::vector<std::future<std::optional<ProxyCredentialsSnapshot>>> requests;
  requests.push_back(std::async(std::launch::async, [&] { return gate.AnswerChallenge(0, ask); }));
  dialogShown.get_future().wait();
  for (int i = 0; i < 3; ++i) {
    requests.push_back(std::async(std::launch::async, [&] { return gate.AnswerChallenge(0, ask); }));
  }
  for (auto& request : requests) EXPECT_EQ(request.wait_for(100ms), std::future_status::timeout);

  userAnswers.set_value();
  for (auto& request : requests) {
    const auto credentials = request.get();
    ASSERT_TRUE(credentials);
    EXPECT_EQ(credentials->generation, 1u);
    EXPECT_EQ(credentials->credentials.password, u"secret");
  }
  EXPECT_EQ(asked.load(), 1);
}

TEST(ProxyCredentialGateTest, ACancelEndsTheWaitingRequestsAndIsNotAskedAgain) {
  ProxyCredentialGate gate;
  gate.AllowAsking();
  std::atomic<int> asked{0};
  std::promise<void> dialogShown;
  std::promise<void> userCancels;
  std::shared_future<void> cancel = userCancels.get_future().share();
  const auto ask = [&]() -> std::optional<ProxyCredentials> {
    if (++asked == 1) dialogShown.set_value();
    cancel.wait();
    return std::nullopt;
  };

  auto first = std::async(std::launch::async, [&] { return gate.AnswerChallenge(0, ask); });
  dialogShown.get_future().wait();
  auto waiting = std::async(std::launch::async, [&] { return gate.AnswerChallenge(0, ask); });
  EXPECT_EQ(waiting.wait_for(100ms), std::future_status::timeout);
  userCancels.set_value();
  EXPECT_FALSE(first.get());
  EXPECT_FALSE(waiting.get());

  EXPECT_FALSE(gate.AnswerChallenge(0, ask));
  EXPECT_EQ(asked.load(), 1);
  EXPECT_EQ(gate.Current().generation, 0u);
}

TEST(ProxyCredentialGateTest, ADialogThatFailsCountsAsACancelAndLeavesTheGateUsable) {
  ProxyCredentialGate gate;
  gate.AllowAsking();
  EXPECT_FALSE(gate.AnswerChallenge(0, []() -> std::optional<ProxyCredentials> { throw std::bad_alloc(); }));
  // Nobody is left "asking": a later challenge returns at once.
  auto later = std::async(std::launch::async, [&] {
    return gate.AnswerChallenge(0, [] { return std::optional(Entered(u"u", u"p")); });
  });
  ASSERT_EQ(later.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(later.get());
}

TEST(ProxyCredentialGateTest, AWipedTextLeavesNoCharacterInItsStorage) {
  std::u16string password = u"secret";
  const char16_t* characters = password.data();  // the storage stays the text's after clearing
  WipeText(password);
  EXPECT_TRUE(password.empty());
  EXPECT_EQ(std::u16string(characters, 6), std::u16string(6, u'\0'));
}

}  // namespace
}  // namespace velmora::platform
