// This host's addresses and which of the venue's file servers this video server
// is.
#ifndef RONDEL_CATALOGUE_SERVER_IDENTITY_H_
#define RONDEL_CATALOGUE_SERVER_IDENTITY_H_

namespace rondel {

// Fills LocalAddressList with this host's IPv4 addresses in the order of
// platform::HostAddresses: those of its up interfaces first, then those the
// resolver gives for the host name, loopback ones last (at most 32, the rest
// of the list cleared). When neither source can be asked the list keeps what
// it held.
void LoadLocalAddresses();

// Sets ServerIdentity to (FileServerId, GroupId) of the first FILE_SERVERS
// record, in table order, whose ServerAddress equals one of the local addresses
// byte for byte; returns true then. Otherwise (including an empty address or an
// empty local list) ServerIdentity is (0, 0) and the result false. Takes no
// lock.
bool IdentifyServer();

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_SERVER_IDENTITY_H_
