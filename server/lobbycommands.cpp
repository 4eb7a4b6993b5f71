#include "lobbyserver.h"

#include "lobbyrules.h"
#include "orvexutils.h"
#include "wirekeyword.h"

#include <ctime>
#include <utility>

using ostrel::WireKeyword;

namespace {

// Text one player sends others (chat, private message, invitation, join request) is
// capped well above what the client lets anyone type (400 characters, at most 1600 bytes
// of UTF-8, plus a colour), yet far below the line limit: a few hundred clients each
// receiving 64 KiB lines is the fan-out an attacker wants.
constexpr std::size_t kMaxMessageBytes = 4096;

// Private messages kept for offline accounts. A full store refuses new messages rather
// than dropping old ones, so a flood cannot push out what others wrote; one sender fills
// at most a fifth of anyone's store, and all senders' stores together are bounded by the
// per-sender total (at most 200 x 4 KiB each).
constexpr std::int64_t kMaxStoredPerRecipient = 50;
constexpr std::int64_t kMaxStoredPerSenderAndRecipient = 10;
constexpr std::int64_t kMaxStoredPerSender = 200;
constexpr std::int64_t kStoredMessageSeconds = 30 * 24 * 3600;

std::int64_t secondsNow()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

// The client shows the part of a message text before its first "+" as the time it was
// written (the sender's local time of day). A kept message adds the day it was kept on,
// which the reader could not otherwise tell.
std::string keptMessageText(const StoredMessage &message)
{
    std::string_view text = message.text;
    std::string written;
    if (const auto plus = text.find('+'); plus != std::string_view::npos) {
        written = std::string(text.substr(0, plus));
        text.remove_prefix(plus + 1);
    }
    const std::time_t at = static_cast<std::time_t>(message.storedAt);
    std::tm utc{};
    gmtime_r(&at, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M UTC", &utc);
    std::string time = written.empty() ? std::string() : written + " ";
    time.append("(kept since ").append(stamp).append(")");
    return time + "+" + std::string(text);
}

// Names echoed back in error texts are cut, so a hostile name cannot make them huge.
std::string shown(std::string_view text)
{
    return std::string(text.substr(0, 40));
}

} // namespace

bool LobbyServer::ownName(const Session &session, std::string_view name) const
{
    return lobbyrules::key(name) == session.player.key;
}

bool LobbyServer::refuseWhenSilenced(Session &session)
{
    const auto minutes = silencedMinutes(session);
    if (minutes == 0)
        return false;
    session.sendText(
        wireLine(WireKeyword::ERROR, "You are silenced for " + std::to_string(minutes) +
                                         (minutes == 1 ? " more minute." : " more minutes.")));
    return true;
}

bool LobbyServer::refuseOverlong(Session &session, std::string_view text)
{
    if (text.size() <= kMaxMessageBytes)
        return false;
    session.sendText(wireLine(WireKeyword::ERROR, "A message holds up to " +
                                                      std::to_string(kMaxMessageBytes) +
                                                      " bytes; yours was not sent."));
    return true;
}

void LobbyServer::onJoinSubject(Session &session, std::string_view rest)
{
    const std::string room(ostrel::ExtractToken(rest, '|'));
    if (!m_catalogue.hasRoom(room)) {
        session.sendText(
            wireLine(WireKeyword::ERROR, "There is no room named " + shown(room) + "."));
        return;
    }
    auto &p = session.player;
    if (room != p.room) {
        const std::string old = p.room;
        m_rooms[old].erase(&session);
        // The lobby's member list is everyone online, so only a game room announces a
        // departure.
        if (old != Catalogue::kLobby)
            sendToRoom(old, wireLine(WireKeyword::REMOVEGUEST, p.name), &session, true);
        p.room = room;
        m_rooms[room].insert(&session);
        announceEntry(session, &session);
    }
    session.sendOwed(memberList(room));
}

void LobbyServer::onUserInfo(Session &session, std::string_view rest)
{
    const std::string name(ostrel::ExtractToken(rest, '|'));
    if (!lobbyrules::validName(name)) {
        session.sendText(
            wireLine(WireKeyword::ERROR, "There is no user named " + shown(name) + "."));
        return;
    }
    askStore(session, ostrel::wireSpelling(WireKeyword::USERINFO),
             [this, name](AccountStore &store) -> SessionThen {
                 return [this, name, account = store.find(name)](Session &s) {
                     if (!account)
                         s.sendText(wireLine(WireKeyword::ERROR,
                                             "There is no user named " + shown(name) + "."));
                     else
                         s.sendText(wireLine(WireKeyword::USERINFO,
                                             recordFor(*account, &s).SaveToString()));
                 };
             });
}

void LobbyServer::onUserUpdate(Session &session, std::string_view rest)
{
    auto &p = session.player;
    const auto name = ostrel::ExtractToken(rest, '|');
    if (!ownName(session, name)) {
        session.sendText(wireLine(WireKeyword::ERROR, "You can only change your own profile."));
        return;
    }
    ostrel::TOrvexUser record;
    try {
        record.LoadFromString(ostrel::ExtractToken(rest, '|'));
    } catch (const ostrel::EConvertError &) {
        session.sendText(wireLine(WireKeyword::ERROR, "Your profile could not be read."));
        return;
    }
    for (const auto *field :
         {&record.FirstName, &record.LastName, &record.City, &record.Country, &record.EMail,
          &record.HomePage, &record.Comments, &record.ICQ, &record.Gender}) {
        if (!lobbyrules::validProfileText(*field)) {
            session.sendText(
                wireLine(WireKeyword::ERROR,
                         "Profile fields hold up to 255 characters and no control characters."));
            return;
        }
    }
    // Only the profile fields, the hat and the password are the player's to change.
    askStore(session, ostrel::wireSpelling(WireKeyword::USERUPDATE),
             [this, name = p.name, record](AccountStore &store) mutable -> SessionThen {
                 const auto account = store.find(name);
                 if (!account)
                     throw std::runtime_error("account " + name + " is missing");
                 const std::string wanted = record.Hat;
                 if (wanted != account->user.Hat &&
                     !lobbyrules::hatAllowed(wanted, account->user.AccountClass))
                     record.Hat = account->user.Hat;
                 store.updateProfile(name, record);
                 return [this, record, wanted, updated = store.find(name)](Session &s) {
                     profileUpdated(s, record, wanted, updated);
                 };
             });
}

void LobbyServer::profileUpdated(Session &session, const ostrel::TOrvexUser &record,
                                 const std::string &wantedHat,
                                 const std::optional<AccountRecord> &updated)
{
    auto &p = session.player;
    if (record.Hat != wantedHat)
        session.sendText(wireLine(WireKeyword::ERROR,
                                  "Your account may not wear hat " + shown(wantedHat) + "."));
    const bool hatChanged = record.Hat != p.hat;
    p.hat = record.Hat;
    if (hatChanged)
        announceEntry(session);

    if (record.Password == p.password || !lobbyrules::validPassword(record.Password)) {
        if (record.Password != p.password)
            session.sendText(wireLine(WireKeyword::ERROR,
                                      "A password has 1 to 9 characters; yours was not changed."));
        if (updated)
            session.sendText(
                wireLine(WireKeyword::USERINFO, recordFor(*updated, &session).SaveToString()));
        return;
    }
    // One change at a time: each costs a hash, and a line per change must not buy a
    // queue of them.
    if (p.passwordChanging) {
        session.sendText(wireLine(WireKeyword::ERROR,
                                  "Your previous password change is still being made; this one "
                                  "was not made."));
        return;
    }
    if (m_hasher.admits(session.address(), isExempt(session.address())) !=
        PasswordHasher::Admission::Admitted) {
        session.sendText(wireLine(WireKeyword::ERROR,
                                  "The server is busy; your password was not changed. Please try "
                                  "again in a moment."));
        return;
    }
    // The confirming USERINFO goes out once the new hash is stored, so that a login with
    // the new password right after it succeeds.
    p.passwordChanging = true;
    std::weak_ptr<Session> weak = session.shared_from_this();
    m_hasher.hash(
        session.address(), stillWanted(session), record.Password,
        [this, weak, name = p.name, password = record.Password](std::optional<std::string> hash) {
            auto s = weak.lock();
            // Skipped: the session has gone, and its change with it.
            if (!hash)
                return;
            if (hash->empty()) {
                log("password change: hashing failed");
                if (s) {
                    s->player.passwordChanging = false;
                    s->sendText(
                        wireLine(WireKeyword::ERROR, "Your password could not be changed."));
                }
                return;
            }
            // The change is made whether the session stays to hear of it or not.
            m_store.run(
                [this, weak, name, password,
                 hash = std::move(*hash)](AccountStore &store) -> AccountStoreWorker::Then {
                    store.updatePasswordHash(name, hash);
                    return [this, weak, name, password, updated = store.find(name)]() {
                        const auto s = weak.lock();
                        if (!s)
                            return;
                        s->player.passwordChanging = false;
                        if (s->closing() || !s->player.loggedIn || s->player.name != name)
                            return;
                        s->player.password = password;
                        if (updated)
                            s->sendText(wireLine(WireKeyword::USERINFO,
                                                 recordFor(*updated, s.get()).SaveToString()));
                    };
                },
                [this, weak](const std::string &error) {
                    log("password change: " + error);
                    if (const auto s = weak.lock()) {
                        s->player.passwordChanging = false;
                        s->sendText(
                            wireLine(WireKeyword::ERROR, "Your password could not be changed."));
                    }
                });
        });
}

void LobbyServer::onSend(Session &session, std::string_view rest)
{
    const auto typeText = ostrel::ExtractToken(rest, '|');
    const auto type = ostrel::wireKeyword(typeText);
    const auto &p = session.player;
    if (type == WireKeyword::CHAT || type == WireKeyword::GHAT) {
        if (refuseWhenSilenced(session) || refuseOverlong(session, rest))
            return;
        const std::string line =
            wireLine(WireKeyword::SEND, p.name, *type, lobbyrules::relayedText(rest));
        if (type == WireKeyword::CHAT)
            sendToRoom(p.room, line, &session);
        else
            broadcast(line);
        return;
    }
    const auto target = ostrel::ExtractToken(rest, '|');
    if (type == WireKeyword::PMES) {
        if (refuseWhenSilenced(session) || refuseOverlong(session, rest))
            return;
        const std::string line =
            wireLine(WireKeyword::SEND, p.name, WireKeyword::PMES, lobbyrules::relayedText(rest));
        if (const auto to = m_directory.find(target))
            deliver(*to, cluster::ToPlayer{.key = to->key(),
                                           .line = line,
                                           .fromKey = p.key,
                                           .undelivered = wireLine(
                                               WireKeyword::ERROR,
                                               shown(target) + " is not online; your message was "
                                                               "not delivered.")});
        else
            storeForOffline(session, target, rest);
    } else if (type == WireKeyword::JOIN) {
        onJoin(session, target, rest);
    } else if (type == WireKeyword::IPTJ) {
        onJoinAnswer(session, target, rest, true);
    } else if (type == WireKeyword::IGNO) {
        onJoinAnswer(session, target, rest, false);
    } else if (type == WireKeyword::DATASEND) {
        onDatasend(session, target, rest);
    } else {
        session.sendText(
            wireLine(WireKeyword::ERROR, "Unknown message type \"" + shown(typeText) + "\"."));
    }
}

void LobbyServer::onInvite(Session &session, std::string_view rest)
{
    const auto target = ostrel::ExtractToken(rest, '|');
    if (refuseWhenSilenced(session) || refuseOverlong(session, rest))
        return;
    const std::string line = wireLine(WireKeyword::SEND, session.player.name, WireKeyword::INVITE,
                                      lobbyrules::relayedText(rest));
    const std::string undelivered = wireLine(
        WireKeyword::ERROR, shown(target) + " is not online; your invitation was not delivered.");
    if (const auto to = m_directory.find(target))
        deliver(*to, cluster::ToPlayer{.key = to->key(),
                                       .line = line,
                                       .fromKey = session.player.key,
                                       .undelivered = undelivered});
    else
        session.sendText(undelivered);
}

void LobbyServer::onJoin(Session &session, std::string_view hostName, std::string_view payload)
{
    const auto host = m_directory.find(hostName);
    if (!host || host->session() == &session) {
        session.sendText(wireLine(
            WireKeyword::ERROR, shown(hostName) + " is not hosting a game, you cannot join them."));
        return;
    }
    if (refuseOverlong(session, payload))
        return;
    // Clients send "+" and hosts ignore it; a silenced player still may join, but the
    // request carries no words of theirs. Whether the host hosts is for its node to say.
    const std::string text =
        silencedMinutes(session) > 0 ? std::string("+") : lobbyrules::relayedText(payload);
    deliver(*host, cluster::JoinRequest{.hostKey = host->key(),
                                        .joinerKey = session.player.key,
                                        .joinerName = session.player.name,
                                        .text = text,
                                        .hostName = std::string(hostName)});
}

// IPTJ and IGNO: only the answer of a host to a JOIN it received and has not answered.
void LobbyServer::onJoinAnswer(Session &session, std::string_view requester,
                               std::string_view payload, bool accepted)
{
    auto &host = session.player;
    const auto requesterKey = lobbyrules::key(requester);
    if (host.pendingJoins.erase(requesterKey) == 0) {
        session.sendText(
            wireLine(WireKeyword::ERROR, shown(requester) + " has not asked to join your game."));
        return;
    }
    const auto joiner = m_directory.find(requester);
    if (!joiner) {
        session.sendText(wireLine(WireKeyword::ERROR, shown(requester) + " is no longer online."));
        return;
    }
    // The joiner's game connects to whatever address this names, so it must be one: a
    // host that sends anything else is taken to be where the server sees it.
    std::string address;
    if (accepted) {
        address = std::string(ostrel::ExtractToken(payload, '|'));
        if (host.assisted)
            address = ostrel::kWireAssistedAddress;
        else if (address != ostrel::kWireAssistedAddress && !lobbyrules::dottedIPv4(address))
            address = session.address();
    }
    deliver(*joiner, cluster::JoinAnswer{.joinerKey = requesterKey,
                                         .hostKey = host.key,
                                         .hostName = host.name,
                                         .game = host.game,
                                         .accepted = accepted,
                                         .address = address});
    // After the answer: a joiner here that leaves a game it was in takes itself off that
    // host's list first.
    if (accepted)
        host.joiners.insert(requesterKey);
}

// Relay bytes pass only between the host of an assisted game and a player in it. Late
// bytes after the game ended are normal and dropped without a word: an ERROR per relay
// chunk would bury the user in message boxes.
void LobbyServer::onDatasend(Session &session, std::string_view peerName, std::string_view payload)
{
    // This end checks the sender's half of the game, the peer's end the peer's half.
    const auto peer = m_directory.find(peerName);
    if (!peer)
        return;
    const auto &me = session.player;
    bool toHost = false;
    if (me.joinedHost == peer->key())
        toHost = true;
    else if (!(me.hosting && me.assisted && me.joiners.count(peer->key())))
        return;
    deliver(*peer, cluster::Relay{.peerKey = peer->key(),
                                  .senderKey = me.key,
                                  .senderName = me.name,
                                  .toHost = toHost,
                                  .payload = std::string(payload)});
}

void LobbyServer::onAddGame(Session &session, std::string_view rest, bool assisted)
{
    auto &p = session.player;
    const auto entry = ostrel::ExtractToken(rest, '|');
    const std::string prefix = p.name + " - ";
    if (entry.substr(0, prefix.size()) != prefix) {
        session.sendText(wireLine(WireKeyword::ERROR,
                                  "A game is announced as \"" + p.name + " - \" and its room."));
        return;
    }
    const std::string label(entry.substr(prefix.size()));
    if (!m_catalogue.isGameRoom(label)) {
        session.sendText(
            wireLine(WireKeyword::ERROR, "There is no game room named " + shown(label) + "."));
        return;
    }
    if (!p.joinedHost.empty())
        leaveJoinedGame(session, false);
    if (p.hosting)
        endGame(session, false);
    p.hosting = true;
    p.assisted = assisted;
    p.gamePrivate = false;
    p.gameLabel = label;
    p.game = prefix + label;
    ++m_hostedGames;
    announceEntry(session);
}

void LobbyServer::onDeleteGame(Session &session, std::string_view rest)
{
    const auto name = ostrel::ExtractToken(rest, '|');
    if (!ownName(session, name)) {
        session.sendText(wireLine(WireKeyword::ERROR, "You can only end your own game."));
        return;
    }
    auto &p = session.player;
    if (p.hosting)
        endGame(session, true);
    else if (!p.joinedHost.empty())
        leaveJoinedGame(session, true);
}

void LobbyServer::onPrivate(Session &session, std::string_view rest)
{
    const auto name = ostrel::ExtractToken(rest, '|');
    auto &p = session.player;
    if (!ownName(session, name) || !p.hosting) {
        session.sendText(
            wireLine(WireKeyword::ERROR, "You are not hosting a game to make private."));
        return;
    }
    if (p.gamePrivate)
        return;
    p.gamePrivate = true;
    p.game = "P*" + p.game;
    announceEntry(session);
    // The players in it carry the host's entry; hide theirs too, or their entries would
    // keep the game listed.
    for (const auto &key : p.joiners)
        if (const auto joiner = m_directory.find(key))
            deliver(*joiner,
                    cluster::GamePrivate{.joinerKey = key, .hostKey = p.key, .game = p.game});
}

// The host's game is over: everyone learns which entry ended, its players are out of it,
// relayed connections are told to close, and join requests still waiting are refused.
void LobbyServer::endGame(Session &host, bool announceHost)
{
    auto &p = host.player;
    if (!p.hosting)
        return;
    const std::string entry = p.name + " - " + p.gameLabel;
    broadcast(wireLine(WireKeyword::DELETEGAME, entry));
    for (const auto &key : p.joiners)
        if (const auto joiner = m_directory.find(key))
            deliver(*joiner, cluster::GameEnded{.joinerKey = key,
                                                .hostKey = p.key,
                                                .hostName = p.name,
                                                .assisted = p.assisted});
    const std::string ended =
        wireLine(WireKeyword::ERROR, "The game of " + p.name + " has ended, you cannot join them.");
    for (const auto &key : p.pendingJoins)
        if (const auto joiner = m_directory.find(key))
            deliver(*joiner, cluster::ToPlayer{.key = key, .line = ended});
    p.joiners.clear();
    p.pendingJoins.clear();
    p.hosting = false;
    p.assisted = false;
    p.gamePrivate = false;
    p.gameLabel.clear();
    p.game.clear();
    if (m_hostedGames > 0)
        --m_hostedGames;
    if (announceHost)
        announceEntry(host);
}

void LobbyServer::leaveJoinedGame(Session &joiner, bool announce)
{
    auto &j = joiner.player;
    if (const auto host = m_directory.find(j.joinedHost))
        deliver(*host, cluster::LeftGame{
                           .hostKey = j.joinedHost, .joinerKey = j.key, .joinerName = j.name});
    j.joinedHost.clear();
    j.game.clear();
    if (announce)
        announceEntry(joiner);
}

void LobbyServer::onAdmin(Session &session, std::string_view rest)
{
    ostrel::ExtractToken(rest, '|'); // the fixed client field
    const auto name = ostrel::ExtractToken(rest, '|');
    const auto order = ostrel::ExtractToken(rest, '|');
    const auto target = ostrel::ExtractToken(rest, '|');
    const auto minutesText = ostrel::ExtractToken(rest, '|');
    // The class is read afresh so that set-class takes effect without a new login.
    askStore(session, ostrel::wireSpelling(WireKeyword::HADMIN),
             [this, me = session.player.name, name = std::string(name), order = std::string(order),
              target = std::string(target),
              minutesText = std::string(minutesText)](AccountStore &store) -> SessionThen {
                 auto myClass = store.accountClass(me).value_or("");
                 auto account = lobbyrules::validName(target) ? store.find(target) : std::nullopt;
                 return [this, name, order, target, minutesText, myClass = std::move(myClass),
                         account = std::move(account)](Session &s) {
                     onAdminChecked(s, name, order, target, minutesText, myClass, account);
                 };
             });
}

void LobbyServer::onAdminChecked(Session &session, std::string_view name, std::string_view order,
                                 std::string_view target, std::string_view minutesText,
                                 const std::string &myClass,
                                 const std::optional<AccountRecord> &account)
{
    auto &p = session.player;
    if (!ownName(session, name) || !lobbyrules::isModerator(myClass)) {
        session.sendText(wireLine(WireKeyword::ERROR, "Only moderators can do that."));
        return;
    }
    const auto orderWord = ostrel::wireKeyword(order);
    if (orderWord == WireKeyword::REBOOT) {
        log(p.name + " restarts the server");
        // Only this node restarts: the other nodes' players stay where they are.
        localBroadcast(wireLine(WireKeyword::SHOUT, ostrel::kWireRebootShout), nullptr, false);
        restartListener();
        return;
    }
    if (orderWord != WireKeyword::SILENCE && orderWord != WireKeyword::UNSILENCE &&
        orderWord != WireKeyword::BOOT) {
        session.sendText(
            wireLine(WireKeyword::ERROR, "Unknown moderation order \"" + shown(order) + "\"."));
        return;
    }
    if (!account) {
        session.sendText(
            wireLine(WireKeyword::ERROR, "There is no user named " + shown(target) + "."));
        return;
    }
    if (account->user.AccountClass == "H" && myClass != "H") {
        session.sendText(
            wireLine(WireKeyword::ERROR, "Only an administrator can do that to an administrator."));
        return;
    }
    std::int32_t minutes = 0;
    if (orderWord == WireKeyword::SILENCE) {
        const auto parsed = ostrel::ParseInt32(minutesText);
        if (!parsed || *parsed < 1 || *parsed > 10080) {
            session.sendText(
                wireLine(WireKeyword::ERROR, "A silence lasts from 1 to 10080 minutes."));
            return;
        }
        minutes = *parsed;
    }
    std::weak_ptr<Session> weak = session.shared_from_this();
    moderateStored(p.name, *orderWord, account->user.UserName, minutes,
                   [weak](const std::string &error) {
                       const auto s = weak.lock();
                       if (s && !error.empty())
                           s->sendText(wireLine(WireKeyword::ERROR, error));
                   });
}

void LobbyServer::moderateStored(const std::string &by, WireKeyword order,
                                 const std::string &targetName, std::int32_t minutes,
                                 std::function<void(const std::string &error)> done)
{
    if (order != WireKeyword::SILENCE && order != WireKeyword::UNSILENCE) {
        done(moderate(by, order, targetName, minutes));
        return;
    }
    // A silence is stored first: a moderator who is told it holds must find it still
    // holding after the player's next login.
    const auto until =
        order == WireKeyword::SILENCE ? lobbyrules::unixNow() + std::int64_t{minutes} * 60 : 0;
    m_store.run(
        [this, by, order, targetName, minutes, until,
         done](AccountStore &store) -> AccountStoreWorker::Then {
            store.setSilenceUntil(targetName, until);
            return [this, by, order, targetName, minutes, done]() {
                done(moderate(by, order, targetName, minutes));
            };
        },
        [this, targetName, done](const std::string &error) {
            log("moderation of " + targetName + " not stored: " + error);
            done("The account database could not store that; nothing was changed.");
        });
}

std::string LobbyServer::moderate(const std::string &by, WireKeyword order,
                                  const std::string &targetName, std::int32_t minutes)
{
    using Order = cluster::Moderation::Order;
    const auto target = m_directory.find(targetName);
    const std::string key = lobbyrules::key(targetName);
    if (order == WireKeyword::SILENCE) {
        // Stored by moderateStored() before.
        const auto until = lobbyrules::unixNow() + std::int64_t{minutes} * 60;
        logEvent(ServerLog::Level::Info, "moderation",
                 {{"by", by},
                  {"order", "silence"},
                  {"target", targetName},
                  {"minutes", std::to_string(minutes)}});
        if (target)
            deliver(*target,
                    cluster::Moderation{
                        .key = key, .order = Order::Silence, .until = until, .minutes = minutes});
    } else if (order == WireKeyword::UNSILENCE) {
        logEvent(ServerLog::Level::Info, "moderation",
                 {{"by", by}, {"order", "unsilence"}, {"target", targetName}});
        if (target)
            deliver(*target, cluster::Moderation{.key = key, .order = Order::Unsilence});
    } else {
        if (!target)
            return targetName + " is not online.";
        ServerLog::Fields fields{{"by", by}, {"order", "boot"}, {"target", targetName}};
        if (!target->node().empty())
            fields.push_back({"node", target->node()});
        logEvent(ServerLog::Level::Info, "moderation", fields);
        deliver(*target, cluster::Moderation{.key = key, .order = Order::Boot, .by = by});
    }
    return {};
}

void LobbyServer::storeForOffline(Session &session, std::string_view target, std::string_view text)
{
    if (!lobbyrules::validName(target)) {
        session.sendText(wireLine(
            WireKeyword::ERROR, shown(target) + " is not online; your message was not delivered."));
        return;
    }
    enum class Kept { NoSuchAccount, Full, Stored };
    askStore(session, ostrel::wireSpelling(WireKeyword::PMES),
             [this, target = std::string(target), sender = session.player.name,
              text = lobbyrules::relayedText(text)](AccountStore &store) -> SessionThen {
                 const auto account = store.find(target);
                 Kept kept = Kept::NoSuchAccount;
                 std::string name = target;
                 if (account) {
                     name = account->user.UserName;
                     const auto counts = store.storedMessageCounts(name, sender);
                     if (counts.forRecipient >= kMaxStoredPerRecipient ||
                         counts.fromSenderToRecipient >= kMaxStoredPerSenderAndRecipient ||
                         counts.fromSender >= kMaxStoredPerSender) {
                         kept = Kept::Full;
                     } else {
                         store.storeMessage(name, sender, text, secondsNow());
                         kept = Kept::Stored;
                     }
                 }
                 return [this, kept, name](Session &s) {
                     auto &p = s.player;
                     const std::string key = lobbyrules::key(name);
                     // The client shows every ERROR in a box: the sender hears of each
                     // recipient once per login, not once per message.
                     switch (kept) {
                     case Kept::NoSuchAccount:
                         s.sendText(wireLine(
                             WireKeyword::ERROR,
                             shown(name) + " is not online; your message was not delivered."));
                         break;
                     case Kept::Full:
                         if (p.toldFull.insert(key).second)
                             s.sendText(wireLine(
                                 WireKeyword::ERROR,
                                 name + " is offline and no more of your messages can be kept for"
                                        " them now; yours was not delivered."));
                         break;
                     case Kept::Stored:
                         m_metrics.keptMessages.add();
                         if (p.toldStored.insert(key).second)
                             s.sendText(wireLine(
                                 WireKeyword::ERROR,
                                 name + " is offline; your message was kept and will be delivered"
                                        " at their next login."));
                         break;
                     }
                 };
             });
}

// The senders were told their messages were kept: they stay stored until the client has
// them. A connection that drops, or a server that stops, before the client answered the
// PING behind them leaves them for the next login (where the client may see one again,
// rather than never). They are read once the player is listed as online, so that a
// message kept meanwhile is among them: a store request made after it comes after it.
void LobbyServer::deliverStoredMessages(Session &session)
{
    // The client's next lines wait behind the read, so that the kept messages arrive as
    // part of the login, before the answers to whatever the client asks next.
    const std::string name = session.player.name;
    askStore(
        session, "kept messages",
        [this, name](AccountStore &store) -> SessionThen {
            return [this, name,
                    messages = store.storedMessages(name, secondsNow() - kStoredMessageSeconds)](
                       Session &s) {
                auto &p = s.player;
                if (!p.loggedIn || p.name != name || messages.empty())
                    return;
                for (const auto &message : messages)
                    s.sendOwed(wireLine(WireKeyword::SEND, message.sender, WireKeyword::PMES,
                                        keptMessageText(message)));
                s.sendOwed(wireLine(WireKeyword::PING, ""));
                ++s.pingsSent;
                p.keptUpToId = messages.back().id;
                p.keptPingAnswer = s.pingsSent;
                log("sent " + std::to_string(messages.size()) + " kept messages to " + p.name);
            };
        },
        [this, name](Session &, const std::string &error) {
            // The login itself went through; the messages wait for a later one.
            log("kept messages for " + name + " not read: " + error);
        });
}

void LobbyServer::pingAnswered(Session &session)
{
    // An answer nobody asked for confirms nothing.
    if (session.pingsAnswered < session.pingsSent)
        ++session.pingsAnswered;
    auto &p = session.player;
    if (!p.loggedIn || p.keptUpToId == 0 || session.pingsAnswered < p.keptPingAnswer)
        return;
    const auto upTo = std::exchange(p.keptUpToId, 0);
    m_store.run(
        [this, name = p.name, upTo](AccountStore &store) -> AccountStoreWorker::Then {
            store.deleteStoredMessages(name, upTo);
            return [this, name]() { log("delivered the kept messages of " + name); };
        },
        [this, name = p.name](const std::string &error) {
            log("kept messages of " + name + " stay for the next login: " + error);
        });
}

// Runs from the periodic tick, where nobody waits for an answer: a database that is away
// or busy is logged, and a later tick tries again. One at a time: a slow database must
// not find a queue of them.
void LobbyServer::purgeStoredMessages()
{
    if (m_purging)
        return;
    m_purging = true;
    m_store.run(
        [this](AccountStore &store) -> AccountStoreWorker::Then {
            return [this,
                    purged = store.purgeStoredMessages(secondsNow() - kStoredMessageSeconds)]() {
                m_purging = false;
                if (purged)
                    log("dropped " + std::to_string(purged) + " kept messages older than 30 days");
            };
        },
        [this](const std::string &error) {
            m_purging = false;
            log(std::string("dropping old kept messages failed, to be tried again: ") + error);
        });
}
