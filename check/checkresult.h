#pragma once

#include <QString>

// How the check of one proxy ended, and what it learnt.
struct CheckResult
{
    // Most telling first: when no protocol works, the proxy gets the first of these that any attempt met.
    enum Outcome {
        Stopped,
        Working,
        Liar,
        NeedsCredentials,
        CredentialsRefused,
        Unreachable,
        Reset,
        ProtocolError,
        TimedOut,
        Refused
    };
    enum Protocol { Http = 1, Connect = 2, Socks5 = 4, Socks4 = 8 };
    enum Anonymity { Unknown, Transparent, Anonymous, Elite };

    Outcome outcome = Stopped;
    int protocols = 0;    // the Protocol flags that worked
    int firstByteMs = -1; // from the start of the check to the judge's first byte, by the first working protocol
    Anonymity anonymity = Unknown;
    QString seenAddress; // the address the judge's page gave, through the proxy

    // "working", "refused", "timed out", "reset", "liar", "needs credentials" (it asked for a password the list
    // did not give), "credentials refused" (it turned down those the list gave), "unreachable", "protocol error";
    // "stopped" when the check was cut short by a stop.
    static QString outcomeText(Outcome outcome);
    // "http,connect,socks5,socks4", those that worked.
    static QString protocolsText(int protocols);
    // "transparent", "anonymous", "elite", or empty when the judge echoes no address.
    static QString anonymityText(Anonymity anonymity);
};
