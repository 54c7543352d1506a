// The sender's own name and callback number, kept in the settings file.
#pragma once

constexpr int SENDER_SIZE = 20;
constexpr int CALLBACK_SIZE = 11;

struct UserDetails {
    char sender[SENDER_SIZE];
    char callback[CALLBACK_SIZE];
};
