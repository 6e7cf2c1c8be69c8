// g729 family: operations are added beside their tables.
namespace voksc {}
