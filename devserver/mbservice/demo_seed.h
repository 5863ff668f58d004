// The demo world: a few users who follow each other, some sixty statuses in Chinese and English with
// links, pictures, retweets and comments, favourites, and two accounts that have no microblog yet.
#pragma once

#include <string>
#include <vector>

#include "devserver/mbservice/microblog.h"

namespace mbservice {

// Fills the microblog (which should hold no accounts yet) in one transaction. Picture short links
// are written with the microblog's picture prefix.
void SeedDemo(Microblog& microblog);

// The statuses the activity generator posts in turn.
const std::vector<std::string>& ActivityTexts();

} // namespace mbservice
