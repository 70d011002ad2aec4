#pragma once
// Delivery of the report to the collector, and the collector's address.

#include <cstdint>

void send_data();
void send_data_udp(const uint8_t *msg, uint32_t len);
void send_data_tcp();
// Local IPv4 address of a connected socket, first octet most significant;
// 0 when it cannot be read.
uint32_t get_socket_local_ip(int sockfd);

void update_ip();
// First IPv4 address of hostname from the system resolver, dotted, into ip
// (cap bytes). 0 on success, 1 when there is none (ip untouched).
int hostname_to_ip(const char *hostname, char *ip, unsigned cap);
int endsWith(const char *str, const char *suffix);

// Index of the name server the next lookup asks.
extern int dns_rr_counter;
