#include "post/PostArticle.h"

#include "base/Progress.h"
#include "nntp/NntpConversation.h"
#include "nntp/NntpSocket.h"
#include "post/PostClock.h"

namespace {

// Sends the stretch of the article; false once the connection has failed.
bool SendAll(CNntpSocket& socket, const std::string& bytes) {
    return bytes.empty() || socket.SendCommand(bytes) >= 0;
}

// The reply of the server, read whole; its code in code.
std::string ReadReply(CNntpSocket& socket, std::string& code) {
    std::string reply;
    std::string rest;
    socket.ReadResponse(reply);
    CNntpSocket::SplitStatus(reply, code, rest);
    return reply;
}

// A refusal is shown as the server worded it; a connection that broke instead says so rather
// than showing an empty box.
void ShowRefusal(IPostView& view, const std::string& reply) {
    if (reply.empty())
        view.ShowMessage(kSocketConnectErrorMessage);
    else
        view.ShowReply(reply);
}

PostOutcome Converse(CNntpSocket& socket, const std::vector<CArticleStage>& stages,
                     IProgress& progress, IPostView& view) {
    std::string code;
    progress.SetStatusText(kPreparingStatus);
    progress.PumpMessages();

    socket.SendCommand("POST\r\n");
    std::string reply = ReadReply(socket, code);
    if (code != "340") {
        ShowRefusal(view, reply);
        EndConversation(socket);
        return PostOutcome::PostRefused;
    }

    for (const CArticleStage& stage : stages) {
        progress.SetStatusText(stage.status);
        progress.PumpMessages();
        // After a failed send the rest cannot arrive either; the reply read below tells.
        if (!SendAll(socket, stage.bytes))
            break;
    }
    reply = ReadReply(socket, code);
    const bool accepted = code == "240";
    if (!accepted)
        ShowRefusal(view, reply);
    EndConversation(socket);
    return accepted ? PostOutcome::Posted : PostOutcome::NotAccepted;
}

} // namespace

namespace {

PostOutcome RunPost(const CPostInput& input, IProgress& progress, IPostView& view) {
    IPostClock& clock = PostClock();
    const std::tm now = clock.LocalTime();
    const std::string boundary = MakeBoundary(clock.TickCount(), now);
    if (input.subject.empty()) {
        view.ShowMessage(kNoSubjectMessage);
        return PostOutcome::NoSubject;
    }
    const std::vector<CArticleStage> stages = ArticleStages(input, boundary, now);

    progress.SetStatusText(kConnectingStatus);
    progress.PumpMessages();
    CNntpSocket socket;
    std::string code;
    std::string message;
    // The set-up every conversation shares: port, TLS, greeting and login as registered.
    PostOutcome outcome = PostOutcome::Refused;
    switch (BeginConversation(socket, input.server, code, message)) {
    case NntpStart::Ready:
        outcome = Converse(socket, stages, progress, view);
        break;
    case NntpStart::ConnectFailed:
        view.ShowMessage(kSocketConnectErrorMessage);
        outcome = PostOutcome::ConnectFailed;
        break;
    case NntpStart::Cut:
        view.ShowMessage(ConnectionErrorMessage(code));
        break;
    case NntpStart::Refused:
    case NntpStart::Failed:
        view.ShowMessage(message);
        break;
    }
    socket.Cleanup();
    progress.SetStatusText("");
    return outcome;
}

} // namespace

PostOutcome PostArticle(const CPostInput& input, IProgress& progress, IPostView& view) {
    try {
        return RunPost(input, progress, view);
    } catch (...) {
        // Out of memory on a huge article: nothing more is sent, and the window keeps it all.
        progress.SetStatusText("");
        return PostOutcome::NotAccepted;
    }
}
